#include "ProcessTag.h"

#include <QFile>
#include <QUuid>

#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace {

QByteArray bootId()
{
    static const QByteArray id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
        text.replace('-', QByteArray());
        return text.size() == 32 ? text : QByteArray(32, '0');
    }();
    return id;
}

} // namespace

QByteArray ProcessTag::current()
{
    return bootId() + '-' + QByteArray::number(qint64(::getpid()));
}

QByteArray ProcessTag::uniqueName(const QByteArray& prefix)
{
    return prefix + current() + '-' + QUuid::createUuid().toString(QUuid::Id128).toLatin1();
}

bool ProcessTag::makerIsGone(const QByteArray& name, const QByteArray& prefix)
{
    if (!name.startsWith(prefix)) {
        return false;
    }
    const QList<QByteArray> parts = name.mid(prefix.size()).split('-');
    if (parts.size() < 3 || parts.at(0).size() != 32) {
        return false;
    }
    bool ok = false;
    const qint64 pid = parts.at(1).toLongLong(&ok);
    if (!ok || pid <= 0) {
        return false;
    }
    if (parts.at(0) != bootId()) {
        return true;
    }
    if (pid == qint64(::getpid())) {
        return false;
    }
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}
