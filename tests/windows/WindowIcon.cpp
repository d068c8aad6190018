#include "tests/windows/WindowIcon.h"

#include <QWidget>

#include <windows.h>

namespace {

QString HandleText(HICON Icon) {
    return QStringLiteral("0x%1").arg(reinterpret_cast<quintptr>(Icon), 0, 16);
}

} // namespace

bool ShowsOwnIcon(QWidget& Window, QString& Detail) {
    const auto window = reinterpret_cast<HWND>(Window.winId());
    const auto big = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
    const auto smallIcon =
        reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
    const auto ofClass = reinterpret_cast<HICON>(::GetClassLongPtrW(window, GCLP_HICON));
    const HICON standard = ::LoadIconW(nullptr, IDI_APPLICATION);
    const HICON shown = big != nullptr ? big : ofClass;
    Detail +=
        QStringLiteral("%1: big %2, small %3, class %4, default %5; ")
            .arg(Window.objectName().isEmpty()
                     ? QString::fromLatin1(Window.metaObject()->className())
                     : Window.objectName(),
                 HandleText(big), HandleText(smallIcon), HandleText(ofClass), HandleText(standard));
    return shown != nullptr && shown != standard && smallIcon != standard;
}
