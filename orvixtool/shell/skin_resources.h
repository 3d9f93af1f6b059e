// The pictures compiled into the program (orvixtool/resources/devodtool.qrc):
//   :/images/background.png  the dialogs' background, 670 x 424
//   :/images/icon.png        the application icon, 48 x 48
//   :/images/icon32.png      the application icon, 32 x 32
#pragma once

#include <QIcon>

namespace devod {

// Registers the pictures. They live in a static library, whose unreferenced parts the linker
// drops; calling this (any number of times) keeps them in and makes the paths above work.
// CDialogSK's constructor and ApplicationIcon() call it, so users of either need not.
void InitSkinResources();

// The application icon in both sizes (calls InitSkinResources()).
QIcon ApplicationIcon();

}  // namespace devod
