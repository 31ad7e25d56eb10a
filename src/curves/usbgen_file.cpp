// Saving and opening curve files: the buttons are wired, the files come next.

#include "usbgen.h"

void UsbGen::saveButtonSlot() { }

void UsbGen::openButtonSlot() { }
