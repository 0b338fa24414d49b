#pragma once

#include <memory>
#include <string>

#include "core/detect/StreamDecoder.h"
#include "gui/ui/CRSizeBar.h"

class CTypeTreeCtrl;
class StreamList;
struct AdapterEntry;
struct CapturedPacket;

// The "Tree Bar": a docking pane with the type tree, and the frame's one door to detection. It
// holds the suffix table (through the decoder) and decodes captured packets into the view.
class CTreeArea : public CRSizeBar {
    Q_OBJECT
  public:
    // Loads the suffix list from `suffixFile` (the default place when empty).
    explicit CTreeArea(std::string suffixFile = std::string());

    bool CreateBar(const QString& title, QMainWindow* frame, QSize defaultSize, bool hasGripper,
                   int id);

    // Reads the suffix list again; packets decoded from now on use the new list.
    void LoadSuffixList();
    std::shared_ptr<const SuffixTable> suffixTable() const { return decoder_.suffixTable(); }

    // The adapter whose bytes go into each record; copied.
    void SetAdapter(const AdapterEntry* adapter);

    // Capture thread: decode the packet and hand a detection to `view` (update 0).
    void DecodeAndDispatch(StreamList* view, const CapturedPacket* packet) const;

    CTypeTreeCtrl* tree() const { return tree_; }

  protected:
    // The tree sits 2 pixels in; docked, 4 above the bottom edge.
    QMargins ClientInset() const override {
        return IsBarFloating() ? QMargins(2, 2, 2, 2) : QMargins(2, 2, 2, 4);
    }

  private:
    std::string suffixFile_;
    StreamDecoder decoder_;
    CTypeTreeCtrl* tree_ = nullptr;
};
