#pragma once

namespace vesk {

// Fills the storyboard "Main": every screen of the app under its identifier, and the first
// screen, a navigation controller holding a file list. The program and tests call it once
// before launching; calling it again changes nothing.
void registerMainStoryboard();

}
