#pragma once

#include <QObject>

#include "gui/app/FrameView.h"

// Presents any widget that has the view's commands as a FrameView.
// The frame owns the adapter; the widget is owned by the frame as its central widget.
template <class View>
class FrameViewAdapter : public FrameView {
  public:
    explicit FrameViewAdapter(View* view) : view_(view) {}

    QWidget* widget() override { return view_; }
    void OnInitialUpdate() override { view_->OnInitialUpdate(); }
    void OnCopyUrl() override { view_->OnCopyUrl(); }
    bool hasCurrentStream() const override { return view_->hasCurrentStream(); }
    void shutdown() override { view_->shutdown(); }
    void setFilterText(const QString& text) override { view_->setFilterText(text); }
    void setTypeFilter(const QString& typeName) override { view_->setTypeFilter(typeName); }
    int shownRowCount() const override { return view_->shownRowCount(); }
    std::map<QString, int> typeCounts() const override { return view_->typeCounts(); }
    void onRowsRemoved(std::function<void()> handler) override {
        // A view that never takes rows out has no such signal.
        if constexpr (requires { &View::rowsRemoved; }) {
            QObject::connect(view_, &View::rowsRemoved, view_, std::move(handler));
        }
    }

  private:
    View* view_;
};
