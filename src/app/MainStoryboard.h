#pragma once

namespace vesk {

// Fills the storyboard "Main": every screen of the app under its identifier, the first
// screen, a navigation controller holding a file list, and the prototype cells "fileCell",
// "buttonCell" and "previewCell" that tables dequeue by identifier. The program and tests call it once
// before launching; calling it again changes nothing.
void registerMainStoryboard();

}
