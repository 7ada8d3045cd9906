#pragma once

namespace settings {

// Makes the "press" action that assistive tools and scripted operators invoke
// on a tool button (the toolbar buttons, 保存, 浏览, ...) click the button
// from the event loop instead of inside the accessibility call. Qt's own tool
// button action clicks at once, so a button whose handler opens a modal box
// or dialog would hold the caller until that box is closed, and the caller
// could not reach the box meanwhile. Push buttons already behave this way.
// Call once, before the first window is created; main thread only.
void InstallDeferredToolButtonPress();

}  // namespace settings
