#pragma once

#include <functional>

// Runs `task` on the GUI thread on a later turn of its event loop, never
// inline, even when called from the GUI thread itself. Callable from any
// thread. Without a QCoreApplication the task is dropped.
void postToMain(std::function<void()> task);

// True on the thread that owns the QCoreApplication.
bool isMainThread();
