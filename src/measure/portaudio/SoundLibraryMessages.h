#pragma once
// The sound libraries under PortAudio print their own findings on the error
// stream: ALSA each plugin it could not open and each underrun, PortAudio
// each host API it tried, JACK that no server is running. None of it is for
// the user, who gets KTV Tune's own words: this routes those messages to
// nowhere, once, before PortAudio starts (KTV_SOUND_DEBUG=1 in the
// environment lets them through). Where the libraries print nothing of the
// kind it does nothing.

namespace ktv::measure {

void RouteSoundLibraryMessages();

} // namespace ktv::measure
