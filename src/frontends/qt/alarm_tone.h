#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QObject>

class QAudioSink;

namespace skav::gui {

// A short falling two-note tone on the default audio output, loud enough to be heard on a
// line where the system's beep is often silent. Without an audio output it falls back to
// the system's beep.
class AlarmTone : public QObject {
  Q_OBJECT

 public:
  explicit AlarmTone(QObject* parent = nullptr);
  ~AlarmTone() override;
  // Starts the tone (again from its start if it is still playing). Returns at once.
  void play();

 private:
  QByteArray samples_;  // 16-bit mono PCM at kSampleRate
  QBuffer buffer_;
  QAudioSink* sink_ = nullptr;
  bool no_output_ = false;
};

}  // namespace skav::gui
