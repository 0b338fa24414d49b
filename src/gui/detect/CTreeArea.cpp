#include "gui/detect/CTreeArea.h"

#include "core/capture/AdapterEntry.h"
#include "core/capture/CapturedPacket.h"
#include "gui/detect/CTypeTreeCtrl.h"
#include "core/detect/SuffixListFile.h"

CTreeArea::CTreeArea(std::string suffixFile) : suffixFile_(std::move(suffixFile)) {
    LoadSuffixList();
}

bool CTreeArea::CreateBar(const QString& title, QMainWindow* frame, QSize defaultSize,
                          bool hasGripper, int id) {
    if (!CRSizeBar::CreateBar(title, frame, defaultSize, hasGripper, id)) {
        return false;
    }
    tree_ = new CTypeTreeCtrl(this);
    setClient(tree_);
    tree_->show();
    tree_->BuildTree();
    return true;
}

void CTreeArea::LoadSuffixList() {
    const std::filesystem::path path =
        suffixFile_.empty() ? SuffixListFile::defaultPath() : std::filesystem::path(suffixFile_);
    decoder_.setSuffixTable(SuffixListFile::load(path).table);
}

void CTreeArea::SetAdapter(const AdapterEntry* adapter) {
    decoder_.setAdapter(adapter != nullptr ? std::make_shared<const AdapterEntry>(*adapter)
                                           : nullptr);
}

void CTreeArea::DecodeAndDispatch(StreamList* view, const CapturedPacket* packet) const {
    if (packet != nullptr) {
        decoder_.decodeAndDispatch(*packet, view);
    }
}
