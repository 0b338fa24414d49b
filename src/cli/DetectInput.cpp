#include "cli/DetectInput.h"

#include <filesystem>

#include "cli/DetectOptions.h"
#include "core/capture/PcapngSecrets.h"
#include "core/detect/SuffixListFile.h"
#include "core/tls/KeyLog.h"
#include "core/tls/KeyLogFile.h"

bool DetectInput::open(const DetectOptions& options, std::string& error) {
    if (!loadSuffixes(options, error) || !readKeyLog(options, error)) {
        return false;
    }
    if (!options.fromStandardInput()) {
        // A pcapng file may carry its connections' secrets itself. Damage or a read error is
        // for the packet reader to report.
        PcapngSecrets::read(options.pcapPath, *keys_);
    }
    return openCapture(options, error);
}

bool DetectInput::loadSuffixes(const DetectOptions& options, std::string& error) {
    SuffixListFile::Result suffixes =
        SuffixListFile::load(options.suffixPath ? std::filesystem::path(*options.suffixPath)
                                                : SuffixListFile::defaultPath());
    if (!suffixes.ok) {
        error = "cannot read the suffix list " + suffixes.error;
        return false;
    }
    suffixes_ = std::move(suffixes.table);
    return true;
}

bool DetectInput::readKeyLog(const DetectOptions& options, std::string& error) {
    keys_ = std::make_shared<KeyLog>();
    if (!options.keyLogPath) {
        return true;
    }
    const KeyLogFile::Result read = KeyLogFile::readWhole(*options.keyLogPath, *keys_);
    if (read.status == KeyLogFile::Status::Read) {
        return true;
    }
    error = "cannot read the key log " + *options.keyLogPath + ": " +
            (read.status == KeyLogFile::Status::Missing ? "no such file" : read.detail);
    return false;
}

bool DetectInput::openCapture(const DetectOptions& options, std::string& error) {
    if (reader_.open(options.pcapPath)) {
        return true;
    }
    // libpcap names the file itself in some of its messages.
    const std::string& readerError = reader_.error();
    error = readerError.starts_with(options.pcapPath + ":")
                ? readerError
                : options.inputName + ": " + readerError;
    return false;
}
