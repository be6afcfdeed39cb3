# The Qt and standard headers nearly every file includes, compiled once per
# kind of target instead of once per file. A target that reuses another's
# precompiled header must be compiled with the same flags and the same Qt
# modules (QtTest's headers test which of QtNetwork, QtGui and QtWidgets are
# linked); its own -D definitions are fine as long as no header below uses
# them. BRISKO_PCH=OFF builds without, which shows a missing #include.

set(BRISKO_PCH_CORE_HEADERS
    <algorithm> <atomic> <chrono> <cmath> <functional> <memory> <optional> <utility> <vector>
    <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QFile> <QFileInfo> <QFuture>
    <QFutureWatcher> <QHash> <QJsonArray> <QJsonDocument> <QJsonObject> <QList> <QMap>
    <QMetaType> <QMutex> <QObject> <QPointer> <QPromise> <QSet> <QString> <QStringList>
    <QThreadPool> <QTimer> <QUrl> <QUuid> <QVariant>
)
set(BRISKO_PCH_WIDGET_HEADERS
    <QApplication> <QCheckBox> <QComboBox> <QHBoxLayout> <QLabel> <QLineEdit> <QPainter>
    <QPainterPath> <QPushButton> <QVBoxLayout> <QWidget>
)
# <QtTest> brings the whole of QtCore, which most tests include through it.
set(BRISKO_PCH_TEST_HEADERS <QtTest> <QSignalSpy> <QTemporaryDir> <QProcess>)

# brisko_precompile_headers(target CORE|WIDGETS|TEST|WIDGET_TEST)
function(brisko_precompile_headers target kind)
    if(NOT BRISKO_PCH)
        return()
    endif()
    set(headers ${BRISKO_PCH_CORE_HEADERS})
    if(kind STREQUAL "WIDGETS" OR kind STREQUAL "WIDGET_TEST")
        list(APPEND headers ${BRISKO_PCH_WIDGET_HEADERS})
    endif()
    if(kind STREQUAL "TEST" OR kind STREQUAL "WIDGET_TEST")
        list(APPEND headers ${BRISKO_PCH_TEST_HEADERS})
    endif()
    target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# brisko_reuse_precompiled_headers(target from): the same compiled header as
# target from, which must have been set up with brisko_precompile_headers.
function(brisko_reuse_precompiled_headers target from)
    if(BRISKO_PCH)
        target_precompile_headers(${target} REUSE_FROM ${from})
    endif()
endfunction()
