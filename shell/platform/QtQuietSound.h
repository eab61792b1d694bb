// Keeps the sound systems' complaints off the terminal on a machine without a sound output.
#pragma once

// Called before the application object exists. The media backend tries one sound system after
// another for a player's audio (PulseAudio, ALSA, OpenAL), and where none has a device each
// failed attempt prints lines of its own on standard error, again for every movie. Those
// reports are dropped: ALSA's through its error handler, OpenAL's by its log level (unless the
// user set one), Qt's warnings about the refused PulseAudio connection by a message filter that
// passes every other message on. The saver says itself, once, that there is no sound output.
void QuietSoundSystems();
