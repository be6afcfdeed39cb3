#include "TarBuilder.h"

#include <QProcess>

#include <cstring>

using namespace Qt::StringLiterals;

namespace {

void putOctal(QByteArray& block, int offset, int width, qint64 value)
{
    const QByteArray digits = QByteArray::number(value, 8).rightJustified(width - 1, '0');
    std::memcpy(block.data() + offset, digits.constData(), size_t(width - 1));
    block[offset + width - 1] = '\0';
}

void putText(QByteArray& block, int offset, int width, const QByteArray& text)
{
    std::memcpy(block.data() + offset, text.constData(), size_t(std::min<qsizetype>(text.size(), width)));
}

} // namespace

void TarBuilder::header(const QByteArray& name, char type, unsigned mode, qint64 size, const QByteArray& link)
{
    Q_ASSERT(name.size() <= 100 && link.size() <= 100);
    QByteArray block(512, '\0');
    putText(block, 0, 100, name);
    putOctal(block, 100, 8, mode);
    putOctal(block, 108, 8, 0);
    putOctal(block, 116, 8, 0);
    putOctal(block, 124, 12, size);
    putOctal(block, 136, 12, 1700000000);
    block[156] = type;
    putText(block, 157, 100, link);
    putText(block, 257, 6, QByteArrayLiteral("ustar"));
    putText(block, 263, 2, QByteArrayLiteral("00"));
    putText(block, 265, 32, QByteArrayLiteral("user"));
    putText(block, 297, 32, QByteArrayLiteral("user"));
    // The checksum counts its own field as spaces.
    std::memset(block.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (const char c : block) {
        sum += uchar(c);
    }
    const QByteArray checksum = QByteArray::number(sum, 8).rightJustified(6, '0');
    std::memcpy(block.data() + 148, checksum.constData(), 6);
    block[154] = '\0';
    block[155] = ' ';
    m_data.append(block);
}

void TarBuilder::directory(const QByteArray& name, unsigned mode)
{
    header(name, '5', mode, 0, {});
}

void TarBuilder::file(const QByteArray& name, const QByteArray& content, unsigned mode)
{
    header(name, '0', mode, content.size(), {});
    m_data.append(content);
    m_data.append(QByteArray((512 - content.size() % 512) % 512, '\0'));
}

void TarBuilder::symlink(const QByteArray& name, const QByteArray& target)
{
    header(name, '2', 0777, 0, target);
}

void TarBuilder::hardlink(const QByteArray& name, const QByteArray& target)
{
    header(name, '1', 0644, 0, target);
}

void TarBuilder::fifo(const QByteArray& name)
{
    header(name, '6', 0644, 0, {});
}

void TarBuilder::characterDevice(const QByteArray& name)
{
    header(name, '3', 0644, 0, {});
}

QByteArray TarBuilder::tar() const
{
    return m_data + QByteArray(1024, '\0');
}

bool TarBuilder::writeZstd(const QByteArray& path) const
{
    QProcess zstd;
    zstd.setStandardOutputFile(QString::fromLocal8Bit(path));
    zstd.start(u"zstd"_s, {u"-q"_s, u"-c"_s});
    if (!zstd.waitForStarted()) {
        return false;
    }
    zstd.write(tar());
    zstd.closeWriteChannel();
    return zstd.waitForFinished() && zstd.exitStatus() == QProcess::NormalExit && zstd.exitCode() == 0;
}
