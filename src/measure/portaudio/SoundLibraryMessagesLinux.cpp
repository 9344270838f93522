// ALSA's error handler, JACK's error and info functions and PortAudio's debug
// print are pointed at nothing. JACK's and PortAudio's are looked up at run
// time: they belong to libraries PortAudio loads, not to its interface.

#include "measure/portaudio/SoundLibraryMessages.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

namespace ktv::measure {

namespace {
void NoAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
void NoMessage(const char*) {}

void Route()
{
    const char* debug = std::getenv("KTV_SOUND_DEBUG");
    if (debug && *debug && *debug != '0')
        return;
    snd_lib_error_set_handler(NoAlsaMessage);
    // A measurement never starts a JACK server of its own.
    setenv("JACK_NO_START_SERVER", "1", 0);
    using SetPrint = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function", "PaUtil_SetDebugPrintFunction"})
        if (auto set = reinterpret_cast<SetPrint>(dlsym(RTLD_DEFAULT, name)))
            set(NoMessage);
}
} // namespace

void RouteSoundLibraryMessages()
{
    static std::once_flag once;
    std::call_once(once, Route);
}

} // namespace ktv::measure
