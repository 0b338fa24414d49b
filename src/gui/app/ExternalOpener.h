#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// Hands a URL to the desktop's browser or a file to its player, and tells when nothing can
// take it: the toolkit refuses, or the desktop names no program for its kind and, for the
// web, no browser is there to fall back on. The desktop is asked through a probe that tests
// replace.
class ExternalOpener {
  public:
    struct Probe {
        // Starts the desktop's opener; false when there is none.
        std::function<bool(const QUrl& url)> open;
        // The desktop's default program for a MIME type ("" when none); nullopt when the
        // desktop cannot be asked.
        std::function<std::optional<QString>(const QString& mimeType)> defaultHandler;
        // Whether a browser is there that the desktop's opener falls back on for the web.
        std::function<bool()> fallbackBrowser;
    };

    ExternalOpener();

    void setProbe(Probe probe) { probe_ = std::move(probe); }

    // False when nothing could open them.
    bool openWebUrl(const QUrl& url) const;
    bool openFile(const QString& path) const;
    // The folder that holds the file at `path`, in the desktop's file manager.
    bool openFolderOf(const QString& path) const;

    // The desktop as it is: the toolkit's opener and the freedesktop.org MIME tools.
    static Probe desktop();

  private:
    bool open(const QUrl& url, const QString& mimeType, bool web) const;

    Probe probe_;
};
