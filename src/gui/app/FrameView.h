#pragma once

class QWidget;

// The frame's view as the frame uses it: the list widget and the few commands the frame
// forwards. FrameViewAdapter wraps the real list view.
class FrameView {
  public:
    virtual ~FrameView() = default;

    virtual QWidget* widget() = 0;
    virtual void OnInitialUpdate() = 0;
    virtual void OnCopyUrl() = 0;
    virtual bool hasCurrentStream() const = 0;
    virtual void shutdown() = 0;
};
