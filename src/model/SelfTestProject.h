#pragma once

#include "model/GifProject.h"

// The synthetic recording every self-test and many tests run on: 30 frames of
// 320 x 200 at 60 ms, fps 15, looping forever. A lime ball crosses from left to
// right along one sine period while a white bar climbs from the bottom.
GifProjectRef makeSelfTestProject();

// Frame i of that project, drawn on its own.
QImage makeSelfTestFrame(int i);
