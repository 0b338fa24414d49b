#pragma once

#include <memory>
#include <string>

#include "gui/ui/CRSizeBar.h"

class CTypeTreeCtrl;
class MonitorSession;
class SuffixTable;

// The "Tree Bar": a docking pane with the type tree. It loads the suffix list that the
// session's detection uses.
class CTreeArea : public CRSizeBar {
    Q_OBJECT
  public:
    // Loads the suffix list from `suffixFile` (the default place when empty) into `session`.
    explicit CTreeArea(MonitorSession& session, std::string suffixFile = std::string());

    bool CreateBar(const QString& title, QMainWindow* frame, QSize defaultSize, bool hasGripper,
                   int id);

    // Reads the suffix list again; packets decoded from now on use the new list.
    void LoadSuffixList();
    std::shared_ptr<const SuffixTable> GetSuffixTable() const;

    CTypeTreeCtrl* Tree() const { return tree_; }

  protected:
    // The tree sits 2 pixels in; docked, 4 above the bottom edge.
    QMargins ClientInset() const override {
        return IsBarFloating() ? QMargins(2, 2, 2, 2) : QMargins(2, 2, 2, 4);
    }

  private:
    MonitorSession& session_;
    std::string suffixFile_;
    CTypeTreeCtrl* tree_ = nullptr;
};
