#pragma once

#include <QObject>

#include "gui/app/FrameView.h"

// Presents any widget that has the view's commands as a FrameView.
// The frame owns the adapter; the widget is owned by the frame as its central widget.
template <class View>
class FrameViewAdapter : public FrameView {
  public:
    explicit FrameViewAdapter(View* view) : view_(view) {}

    QWidget* Widget() override { return view_; }
    void OnInitialUpdate() override { view_->OnInitialUpdate(); }
    void OnCopyUrl() override { view_->OnCopyUrl(); }
    bool HasCurrentStream() const override { return view_->HasCurrentStream(); }
    void Shutdown() override { view_->Shutdown(); }
    void SetFilterText(const QString& text) override { view_->SetFilterText(text); }
    void SetTypeFilter(const QString& typeName) override { view_->SetTypeFilter(typeName); }
    int ShownRowCount() const override { return view_->ShownRowCount(); }
    std::map<QString, int> TypeCounts() const override { return view_->TypeCounts(); }
    void OnRowsRemoved(std::function<void()> handler) override {
        // A view that never takes rows out has no such signal.
        if constexpr (requires { &View::rowsRemoved; }) {
            QObject::connect(view_, &View::rowsRemoved, view_, std::move(handler));
        }
    }

  private:
    View* view_;
};
