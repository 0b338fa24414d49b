#pragma once

#include <QString>

#include <functional>
#include <map>

class QWidget;

// The frame's view as the frame uses it: the list widget and the few commands the frame
// forwards. FrameViewAdapter wraps the real list view.
class FrameView {
  public:
    virtual ~FrameView() = default;

    virtual QWidget* Widget() = 0;
    virtual void OnInitialUpdate() = 0;
    virtual void OnCopyUrl() = 0;
    virtual bool HasCurrentStream() const = 0;
    virtual void Shutdown() = 0;

    // The list's filters, its rows shown and its rows by type name.
    virtual void SetFilterText(const QString& /*text*/) {}
    virtual void SetTypeFilter(const QString& /*typeName*/) {}
    virtual int ShownRowCount() const { return 0; }
    virtual std::map<QString, int> TypeCounts() const { return {}; }
    // `handler` runs whenever the user takes rows out of the list.
    virtual void OnRowsRemoved(std::function<void()> /*handler*/) {}
};
