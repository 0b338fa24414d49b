#include "gui/app/CountText.h"

#include <QLocale>

QString CountText::of(long long count) {
    static const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    return japanese.toString(count);
}
