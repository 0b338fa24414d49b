#pragma once

// Command IDs of menus, toolbar and accelerators; each QAction carries its ID as its data.
enum CommandId : int {
    ID_MONITOR_START = 132,
    ID_MONITOR_STOP = 133,
    ID_VIEW_TREEBAR = 134,
    ID_COPY_URL = 147,
    ID_SETTINGS = 148,
    ID_WATCHED_PORTS = 149,
    ID_SEND_REQUEST_CONTEXT = 150,
    ID_COOKIE_REUSE = 151,
    ID_TLS_PORTS = 152,
    ID_KEY_LOG_FILE = 153,
    ID_KEY_LOG_BROWSER = 154,
    ID_DOWNLOAD_LIMIT = 170,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_EDIT_CLEAR = 57632,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

// Control ID of the tree pane.
inline constexpr int kTreeBarId = 9999;
