#pragma once

#include <QString>

// The last file chosen in a page's file dialog, kept under `key` in
// "./Setting.ini" (opened afresh for each read and write) so the next
// dialog starts there. Empty when the key is absent.
QString lastFilePath(const char* key);
void setLastFilePath(const char* key, const QString& path);
