// Quieting the sound libraries that find no sound device.
#include "shell/platform/QtQuietSound.h"

#include <dlfcn.h>

#include <QString>
#include <QtGlobal>
#include <cstdlib>
#include <cstring>

namespace {

using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);

void DropAlsaError(const char*, int, const char*, int, const char*, ...) {}

// The handler that was installed before ours, for the messages we pass on.
QtMessageHandler& PreviousHandler() {
  static QtMessageHandler previous = nullptr;
  return previous;
}

bool RefusedSoundServer(const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("PulseAudioService:"))) return true;
  return context.category && std::strcmp(context.category, "qt.multimedia.player") == 0 &&
         message.contains(QLatin1String("Failed to connect"));
}

void FilterMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && RefusedSoundServer(context, message)) return;
  if (QtMessageHandler previous = PreviousHandler()) previous(type, context, message);
}

}  // namespace

void QuietSoundSystems() {
  // libasound stays loaded (it is never closed), so the handler stays in place.
  if (void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL)) {
    using SetHandler = int (*)(AlsaErrorHandler);
    if (auto set = reinterpret_cast<SetHandler>(::dlsym(alsa, "snd_lib_error_set_handler")))
      set(DropAlsaError);
  }
  ::setenv("ALSOFT_LOGLEVEL", "0", 0);
  const QtMessageHandler previous = qInstallMessageHandler(FilterMessage);
  if (previous != FilterMessage) PreviousHandler() = previous;  // called twice: keep the first
}
