<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>UsbWindow</name>
    <message>
        <source>1C</source>
        <translation>℃</translation>
    </message>
    <message>
        <source>1F</source>
        <translation>℉</translation>
    </message>
    <message>
        <source>℃</source>
        <translation>℃</translation>
    </message>
</context>
</TS>
