#include "gui/detect/CTreeArea.h"

#include "core/detect/SuffixListFile.h"
#include "core/session/MonitorSession.h"
#include "gui/detect/CTypeTreeCtrl.h"

CTreeArea::CTreeArea(MonitorSession& session, std::string suffixFile)
    : session_(session), suffixFile_(std::move(suffixFile)) {
    LoadSuffixList();
}

bool CTreeArea::CreateBar(const QString& title, QMainWindow* frame, QSize defaultSize,
                          bool hasGripper, int id) {
    if (!CRSizeBar::CreateBar(title, frame, defaultSize, hasGripper, id)) {
        return false;
    }
    tree_ = new CTypeTreeCtrl(this);
    SetClient(tree_);
    tree_->show();
    tree_->BuildTree();
    return true;
}

void CTreeArea::LoadSuffixList() {
    const std::filesystem::path path =
        suffixFile_.empty() ? SuffixListFile::defaultPath() : std::filesystem::path(suffixFile_);
    session_.setSuffixTable(SuffixListFile::load(path).table);
}

std::shared_ptr<const SuffixTable> CTreeArea::GetSuffixTable() const {
    return session_.suffixTable();
}
