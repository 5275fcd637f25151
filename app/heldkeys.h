#pragma once

namespace bellboard {

// Makes every window see a held key as one press, then presses flagged as repeats, then one
// release when it comes up, however busy the machine is. Buttons then act once per hold: Enter
// on the press (its repeats are ignored), Space when the key comes up. Call after the
// application object exists, before any window shows; later calls do nothing.
void pressHeldKeysOnce();

} // namespace bellboard
