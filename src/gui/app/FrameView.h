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

    virtual QWidget* widget() = 0;
    virtual void OnInitialUpdate() = 0;
    virtual void OnCopyUrl() = 0;
    virtual bool hasCurrentStream() const = 0;
    virtual void shutdown() = 0;

    // The list's filters, its rows shown and its rows by type name.
    virtual void setFilterText(const QString& /*text*/) {}
    virtual void setTypeFilter(const QString& /*typeName*/) {}
    virtual int shownRowCount() const { return 0; }
    virtual std::map<QString, int> typeCounts() const { return {}; }
    // `handler` runs whenever the user takes rows out of the list.
    virtual void onRowsRemoved(std::function<void()> /*handler*/) {}
};
