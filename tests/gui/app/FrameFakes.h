#pragma once

#include <map>

#include <QWidget>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/capture/PacketReceiver.h"
#include "core/session/AdapterSource.h"
#include "core/session/CaptureFactory.h"
#include "gui/app/FrameView.h"

// A list view stand-in: counts the commands the frame forwards.
class FakeView : public QWidget {
  public:
    void OnInitialUpdate() { ++initialUpdates; }
    void OnCopyUrl() { ++copies; }
    bool HasCurrentStream() const { return current; }
    void Shutdown() { ++shutdowns; }
    void SetFilterText(const QString& text) { filter = text; }
    void SetTypeFilter(const QString& typeName) { type = typeName; }
    int ShownRowCount() const { return shown; }
    std::map<QString, int> TypeCounts() const { return counts; }

    QString filter;
    QString type;
    int shown = 0;
    std::map<QString, int> counts;
    int initialUpdates = 0;
    int copies = 0;
    int shutdowns = 0;
    bool current = false;
};

// What the tests look at after the frame is gone too.
struct CaptureLog {
    int created = 0;
    int started = 0;
    int stopped = 0;
    int destroyed = 0;
    std::string startedOn;  // description of the adapter
    PacketReceiver* receiver = nullptr;
    std::vector<std::string> events;        // "stop", "exit", "shutdown" in order
    CPacketCapture::Statistics statistics;  // what the capture counts, as the test sets it
};

class FakeCapture : public CaptureEngine {
  public:
    explicit FakeCapture(CaptureLog& log) : log_(log) {}
    ~FakeCapture() override { ++log_.destroyed; }
    void Start(const AdapterEntry& adapter) override {
        ++log_.started;
        log_.startedOn = adapter.description;
    }
    void Stop() override {
        ++log_.stopped;
        log_.events.push_back("stop");
    }
    CaptureStatus Status() const override { return {}; }
    CPacketCapture::Statistics LastStatistics() const override { return log_.statistics; }

  private:
    CaptureLog& log_;
};

class FakeCaptureFactory : public CaptureFactory {
  public:
    explicit FakeCaptureFactory(CaptureLog& log) : log_(log) {}
    std::unique_ptr<CaptureEngine> Create(PacketReceiver& receiver) override {
        ++log_.created;
        log_.receiver = &receiver;
        return std::make_unique<FakeCapture>(log_);
    }

  private:
    CaptureLog& log_;
};

class FakeAdapterSource : public AdapterSource {
  public:
    explicit FakeAdapterSource(int& result) : result_(result) {}
    int Enumerate(std::vector<AdapterEntry>& adapters) override {
        if (result_ > 0) {
            adapters.assign(static_cast<std::size_t>(result_), AdapterEntry{});
            for (int i = 0; i < result_; ++i) {
                const std::string name = "eth" + std::to_string(i);
                std::strncpy(adapters[static_cast<std::size_t>(i)].description, name.c_str(),
                             AdapterEntry::kDescriptionCapacity - 1);
                adapters[static_cast<std::size_t>(i)].address[0] = 10;
                adapters[static_cast<std::size_t>(i)].address[3] = static_cast<uint8_t>(i + 1);
            }
        }
        return result_;
    }

  private:
    int& result_;
};
