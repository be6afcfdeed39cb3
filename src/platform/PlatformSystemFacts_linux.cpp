#include "PlatformSystemFacts.h"

#include <QFile>
#include <QSet>
#include <QThread>

#include <sys/sysinfo.h>
#include <sys/utsname.h>

namespace {

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

// The value of the first "key : value" line of /proc/cpuinfo with this key.
std::optional<QString> cpuinfoValue(const QByteArray& cpuinfo, const QByteArray& key)
{
    for (const QByteArray& line : cpuinfo.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() != key) {
            continue;
        }
        return QString::fromUtf8(line.mid(colon + 1).trimmed());
    }
    return std::nullopt;
}

} // namespace

PlatformSystemFacts::PlatformSystemFacts(QString root)
    : m_root(std::move(root))
{
}

std::optional<QString> PlatformSystemFacts::string(const QString& name) const
{
    if (name == QLatin1String("hw.model")) {
        const std::optional<QByteArray> product = readFile(m_root + QStringLiteral("/sys/class/dmi/id/product_name"));
        if (!product) {
            return std::nullopt;
        }
        const QString text = QString::fromUtf8(product->trimmed());
        return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    }
    if (name == QLatin1String("machdep.cpu.brand_string")) {
        const std::optional<QByteArray> cpuinfo = readFile(m_root + QStringLiteral("/proc/cpuinfo"));
        if (!cpuinfo) {
            return std::nullopt;
        }
        // x86 says "model name"; ARM kernels may only have "Hardware" or "Model".
        for (const char* key : {"model name", "Model", "Hardware"}) {
            if (std::optional<QString> value = cpuinfoValue(*cpuinfo, QByteArray(key)); value && !value->isEmpty()) {
                return value;
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<quint64> PlatformSystemFacts::integer(const QString& name) const
{
    if (name != QLatin1String("hw.physicalcpu")) {
        return std::nullopt;
    }
    const std::optional<QByteArray> cpuinfo = readFile(m_root + QStringLiteral("/proc/cpuinfo"));
    if (!cpuinfo) {
        return std::nullopt;
    }
    // A physical core is a distinct (physical id, core id) pair; threads of one
    // core share it.
    QSet<QByteArray> cores;
    QByteArray physical = "0";
    QByteArray core;
    bool sawCoreId = false;
    const auto flush = [&] {
        if (!core.isEmpty()) {
            cores.insert(physical + ':' + core);
        }
        physical = "0";
        core.clear();
    };
    for (const QByteArray& line : cpuinfo->split('\n')) {
        if (line.trimmed().isEmpty()) {
            flush();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon < 0) {
            continue;
        }
        const QByteArray key = line.left(colon).trimmed();
        if (key == "physical id") {
            physical = line.mid(colon + 1).trimmed();
        } else if (key == "core id") {
            core = line.mid(colon + 1).trimmed();
            sawCoreId = true;
        }
    }
    flush();
    if (!sawCoreId || cores.isEmpty()) {
        return std::nullopt;
    }
    return quint64(cores.size());
}

qint64 PlatformSystemFacts::processorCount() const
{
    return QThread::idealThreadCount();
}

quint64 PlatformSystemFacts::physicalMemory() const
{
    struct sysinfo info;
    if (::sysinfo(&info) != 0) {
        return 0;
    }
    return quint64(info.totalram) * info.mem_unit;
}

OsVersion PlatformSystemFacts::osVersion() const
{
    struct utsname uts;
    if (::uname(&uts) != 0) {
        return parseKernelRelease(QString());
    }
    return parseKernelRelease(QString::fromLatin1(uts.release));
}

OsVersion PlatformSystemFacts::parseKernelRelease(const QString& release)
{
    OsVersion version;
    version.name = QStringLiteral("Linux");
    // Each number is the leading digits of its part: distributions append
    // their own marks ("20+rpt", "0-rc3") to the last one.
    int* fields[] = {&version.major, &version.minor, &version.patch};
    qsizetype at = 0;
    for (int i = 0; i < 3; ++i) {
        qsizetype end = at;
        while (end < release.size() && release.at(end).isDigit() && release.at(end).unicode() < 128) {
            ++end;
        }
        if (end == at) {
            break;
        }
        *fields[i] = release.mid(at, end - at).toInt();
        if (end >= release.size() || release.at(end) != QLatin1Char('.')) {
            break;
        }
        at = end + 1;
    }
    return version;
}
