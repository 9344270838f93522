// Windows: MME and WASAPI print nothing of their own.

#include "measure/portaudio/SoundLibraryMessages.h"

namespace ktv::measure {

void RouteSoundLibraryMessages() {}

} // namespace ktv::measure
