#include "frontends/qt/alarm_tone.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace skav::gui {

namespace {

constexpr int kSampleRate = 22050;

// Appends `seconds` of a sine at `hertz`, faded in and out over 10 ms so that it does not click.
void append_note(QByteArray& samples, double hertz, double seconds) {
  const int count = static_cast<int>(seconds * kSampleRate);
  const int fade = kSampleRate / 100;
  for (int i = 0; i < count; ++i) {
    double envelope = std::min({1.0, static_cast<double>(i) / fade, static_cast<double>(count - i) / fade});
    double value = 0.5 * envelope * std::sin(2 * std::numbers::pi * hertz * i / kSampleRate);
    auto sample = static_cast<std::int16_t>(value * 32767);
    samples.append(reinterpret_cast<const char*>(&sample), sizeof sample);
  }
}

}  // namespace

AlarmTone::AlarmTone(QObject* parent) : QObject(parent) {
  for (int i = 0; i < 2; ++i) {
    append_note(samples_, 880, 0.22);
    append_note(samples_, 587, 0.30);
  }
}

AlarmTone::~AlarmTone() {
  if (sink_ != nullptr) sink_->stop();
}

void AlarmTone::play() {
  if (sink_ == nullptr && !no_output_) {
    // Opened on first use: a station that never fails a board never touches the audio system.
    QAudioFormat format;
    format.setSampleRate(kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(format)) {
      no_output_ = true;
    } else {
      sink_ = new QAudioSink(device, format, this);
    }
  }
  if (no_output_) {
    QApplication::beep();
    return;
  }
  sink_->stop();
  buffer_.close();
  buffer_.setData(samples_);
  buffer_.open(QIODevice::ReadOnly);
  sink_->start(&buffer_);
}

}  // namespace skav::gui
