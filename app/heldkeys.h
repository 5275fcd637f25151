#pragma once

namespace bellboard {

// Makes every window see a held key as one press followed by presses flagged as repeats,
// and one release when it comes up, on any window system and however busy the machine is.
// Buttons then act once per hold: Enter on the press (its repeats are ignored), Space on the
// final release. Call after the application object exists, before any window shows; later
// calls do nothing.
void pressHeldKeysOnce();

} // namespace bellboard
