#include "UsageCommand.h"

#include "CliSession.h"
#include "CommandArguments.h"
#include "Console.h"
#include "platform/ByteCountFormatter.h"
#include "scan/UsageRisk.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace {

constexpr int defaultDepth = 2;
constexpr int defaultTop = 10;

struct Limits
{
    int depth;
    int top;
    HomeLayout layout;
};

bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

std::optional<CacheRisk> riskOf(const UsageTree& tree, UsageTree::Index index, const HomeLayout& layout)
{
    return tree.isDirectory(index) ? UsageRisk::verdict(tree.path(index).toString(), layout) : std::nullopt;
}

QJsonObject jsonNode(const UsageTree& tree, UsageTree::Index index, int depth, const Limits& limits)
{
    const FilePath path = tree.path(index);
    QJsonObject node;
    node.insert(QLatin1String("name"), index == 0 ? tree.rootPath().fileName() : tree.name(index));
    node.insert(QLatin1String("path"), QString::fromUtf8(path.native()));
    if (!isUtf8(path.native())) {
        node.insert(QLatin1String("pathNative"), QString::fromLatin1(path.native().toBase64()));
    }
    node.insert(QLatin1String("size"), tree.size(index));
    node.insert(QLatin1String("entries"), tree.entries(index));
    node.insert(QLatin1String("isDirectory"), tree.isDirectory(index));
    const std::optional<CacheRisk> risk = riskOf(tree, index, limits.layout);
    node.insert(QLatin1String("risk"), risk ? QJsonValue(CacheRisks::rawValue(*risk)) : QJsonValue());
    if (tree.isUnreadable(index)) {
        node.insert(QLatin1String("unreadable"), true);
    }
    QJsonArray children;
    if (depth < limits.depth) {
        for (const UsageTree::Index child : tree.largestChildren(index, limits.top)) {
            children.append(jsonNode(tree, child, depth + 1, limits));
        }
    }
    node.insert(QLatin1String("children"), children);
    return node;
}

QString annotations(const UsageTree& tree, UsageTree::Index index, const HomeLayout& layout)
{
    const UsageNode& node = tree.node(index);
    QStringList notes;
    if (const std::optional<CacheRisk> risk = riskOf(tree, index, layout)) {
        notes.append(CacheRisks::title(*risk));
    }
    if (node.has(UsageNode::Unreadable)) {
        notes.append(QStringLiteral("нет доступа"));
    }
    if (node.has(UsageNode::OtherFileSystem)) {
        notes.append(QStringLiteral("другая файловая система, не учтена"));
    }
    if (node.has(UsageNode::PseudoFileSystem)) {
        notes.append(QStringLiteral("системная файловая система, не учтена"));
    }
    return notes.isEmpty() ? QString() : QStringLiteral("  [") + notes.join(QStringLiteral(", ")) + QLatin1Char(']');
}

void textLines(const UsageTree& tree, UsageTree::Index index, int depth, const Limits& limits, QString* out)
{
    const QString size = ByteCountFormatter::format(tree.size(index));
    QString name = index == 0 ? tree.name(0) : tree.name(index);
    if (tree.isDirectory(index) && index != 0) {
        name += QLatin1Char('/');
    }
    *out += size.rightJustified(12) + QStringLiteral("  ") + QString(depth * 2, QLatin1Char(' ')) + name
        + annotations(tree, index, limits.layout) + QLatin1Char('\n');
    if (depth >= limits.depth) {
        return;
    }
    const QList<UsageTree::Index> shown = tree.largestChildren(index, limits.top);
    for (const UsageTree::Index child : shown) {
        textLines(tree, child, depth + 1, limits, out);
    }
    const qsizetype rest = qsizetype(tree.node(index).childCount) - shown.size();
    if (rest > 0) {
        qint64 restBytes = 0;
        for (const UsageTree::Index child : tree.largestChildren(index).mid(shown.size())) {
            restBytes += tree.size(child);
        }
        *out += ByteCountFormatter::format(restBytes).rightJustified(12) + QStringLiteral("  ")
            + QString((depth + 1) * 2, QLatin1Char(' ')) + QStringLiteral("… ещё ") + QString::number(rest) + QLatin1Char('\n');
    }
}

std::optional<int> nonNegative(const CommandArguments& args, const QString& option, int fallback, QString* error)
{
    const std::optional<QString> text = args.value(option);
    if (!text) {
        return fallback;
    }
    bool ok = false;
    const int value = text->toInt(&ok);
    if (!ok || value < 0) {
        *error = QStringLiteral("%1 ждёт целое число от 0, а не «%2»").arg(option, *text);
        return std::nullopt;
    }
    return value;
}

} // namespace

QString UsageCommand::name() const
{
    return QStringLiteral("usage");
}

QString UsageCommand::synopsis() const
{
    return QStringLiteral("[ПУТЬ] [--depth N] [--top K] [--json] [--other-filesystems]");
}

QString UsageCommand::summary() const
{
    return QStringLiteral("куда ушло место: самые большие папки и файлы, с оценкой кэшей");
}

QString UsageCommand::details() const
{
    return QStringLiteral(
        "ПУТЬ — домашняя папка, если не задан. Размер — место на диске (как у du), каждый файл с несколькими "
        "именами учтён один раз; папки других файловых систем не учитываются без --other-filesystems, "
        "системные (proc, sysfs…) — никогда.\n"
        "--depth N   сколько уровней показать (по умолчанию %1)\n"
        "--top K     сколько самых больших элементов каждой папки показать (по умолчанию %2)\n"
        "--json      дерево в JSON: {name, path, size, entries, isDirectory, risk, children}\n")
        .arg(defaultDepth)
        .arg(defaultTop);
}

CommandResult UsageCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parse(
        arguments, {QStringLiteral("--json"), QStringLiteral("--other-filesystems")},
        {QStringLiteral("--depth"), QStringLiteral("--top")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    if (parsed->positionals().size() > 1) {
        return CommandResult::usageError(QStringLiteral("укажите не больше одного пути"));
    }
    const std::optional<int> depth = nonNegative(*parsed, QStringLiteral("--depth"), defaultDepth, &error);
    const std::optional<int> top = depth ? nonNegative(*parsed, QStringLiteral("--top"), defaultTop, &error) : std::nullopt;
    if (!depth || !top) {
        return CommandResult::usageError(error);
    }
    const bool json = parsed->hasFlag(QStringLiteral("--json"));

    CliSession session(process(), json ? nullptr : &console);
    FilePath root;
    if (!parsed->positionals().isEmpty()) {
        QString path = QDir::cleanPath(QDir::current().absoluteFilePath(parsed->positionals().first()));
        root = FilePath(QFile::encodeName(path));
    }
    const bool crossFileSystems = parsed->hasFlag(QStringLiteral("--other-filesystems"));
    const CliSession::OperationRun run =
        session.run([&](AppState& state) { return state.runUsageScan(root, crossFileSystems); });
    const UsageTreePtr tree = session.state().usageTree();
    if (!run.started || !tree || tree->isEmpty()) {
        console.errLine(session.state().statusMessage().value_or(QStringLiteral("Карта не построена")));
        return CommandResult::failed();
    }
    const Limits limits{*depth, *top, session.state().layout()};
    if (json) {
        console.printJson(QJsonDocument(jsonNode(*tree, 0, 0, limits)));
        return CommandResult::ok();
    }
    QString text;
    textLines(*tree, 0, 0, limits, &text);
    console.out(text);
    console.outLine(session.state().statusMessage().value_or(QString()));
    return CommandResult::ok();
}
