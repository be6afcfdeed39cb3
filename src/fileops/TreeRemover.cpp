#include "TreeRemover.h"

#include "platform/ScopedDirectory.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// One removal run. Folders being emptied are kept open on a stack, one per
// level, each with its listing read in full before anything in it is removed,
// so that removing entries cannot disturb the reading.
class Removal
{
public:
    Removal(const FileSystem& fs, TreeRemover::Result* result)
        : m_fs(fs)
        , m_result(result)
    {
    }

    void run(int parentFd, const QByteArray& name, const QByteArray& path)
    {
        m_path = path;
        visit(parentFd, name, DirectoryNames::Kind::Unknown);
        while (!m_stack.empty()) {
            const std::size_t level = m_stack.size() - 1;
            Frame& frame = m_stack[level];
            if (frame.next < frame.names.names.size()) {
                const DirectoryNames::Name& child = frame.names.names.at(frame.next++);
                const QByteArray childName(frame.names.buffer.constData() + child.offset, child.length);
                m_path.truncate(frame.pathLength);
                m_path += '/' + childName;
                // visit may grow the stack: frame is not used after it.
                visit(frame.dir.get(), childName, child.kind);
                continue;
            }
            const QByteArray folderName = frame.name;
            m_path.truncate(frame.pathLength);
            m_stack.pop_back();
            const int folderParent = level == 0 ? parentFd : m_stack.back().dir.get();
            if (const int error = m_fs.removeAt(folderParent, folderName.constData(), m_path, true)) {
                fail(error);
            }
        }
    }

private:
    struct Frame
    {
        explicit Frame(const FileSystem& fs)
            : dir(fs)
        {
        }

        ScopedDirectory dir;
        DirectoryNames names;
        qsizetype next = 0;
        QByteArray name;
        qsizetype pathLength = 0;
    };

    // Removes the entry name of the folder parentFd (at m_path) if it is not a
    // folder, else opens it and puts it on the stack to be emptied.
    void visit(int parentFd, const QByteArray& name, DirectoryNames::Kind kind)
    {
        if (kind != DirectoryNames::Kind::Directory) {
            const int error = m_fs.removeAt(parentFd, name.constData(), m_path, false);
            if (error != EISDIR) {
                if (error) {
                    fail(error);
                }
                return;
            }
        }
        Frame frame(m_fs);
        int error = m_fs.openDirectoryNoFollow(parentFd, name.constData(), m_path, frame.dir.receive());
        if (error == ELOOP || error == ENOTDIR) {
            // It became a link or a file since it was listed: remove that,
            // never what it points at.
            if (const int removeError = m_fs.removeAt(parentFd, name.constData(), m_path, false)) {
                fail(removeError);
            }
            return;
        }
        if (error) {
            // A folder that cannot be opened can still go if it is empty.
            if (m_fs.removeAt(parentFd, name.constData(), m_path, true)) {
                fail(error);
            }
            return;
        }
        FileStat st;
        if (!m_fs.statAt(frame.dir.get(), ".", m_path, false, &st)) {
            fail(errno);
            return;
        }
        if (!m_haveDevice) {
            m_device = st.device;
            m_haveDevice = true;
        } else if (st.device != m_device) {
            fail(EXDEV);
            return;
        }
        if (!m_fs.readDirectory(frame.dir.get(), m_path, &frame.names)) {
            fail(errno);
            return;
        }
        frame.name = name;
        frame.pathLength = m_path.size();
        m_stack.push_back(std::move(frame));
    }

    void fail(int error)
    {
        if (!m_result->error) {
            m_result->error = error;
            m_result->failedPath = FilePath(m_path);
        }
    }

    const FileSystem& m_fs;
    TreeRemover::Result* m_result;
    std::vector<Frame> m_stack;
    QByteArray m_path;
    quint64 m_device = 0;
    bool m_haveDevice = false;
};

} // namespace

QString TreeRemover::Result::message() const
{
    return error ? QString::fromLocal8Bit(std::strerror(error)) : QString();
}

TreeRemover::TreeRemover(FileSystemPtr fileSystem, FilePath anchor)
    : m_fs(std::move(fileSystem))
    , m_anchor(std::move(anchor))
{
}

TreeRemover::Result TreeRemover::remove(const FilePath& path) const
{
    Result result;
    QByteArray target = path.native();
    while (target.size() > 1 && target.endsWith('/')) {
        target.chop(1);
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray name = target.mid(slash + 1);
    if (!target.startsWith('/') || name.isEmpty() || name == "." || name == "..") {
        result.error = EINVAL;
        result.failedPath = path;
        return result;
    }
    ScopedDirectory parent(*m_fs);
    if (const int error = m_fs->openParentBeneath(m_anchor.native(), target, parent.receive())) {
        result.error = error;
        result.failedPath = path;
        return result;
    }
    Removal(*m_fs, &result).run(parent.get(), name, target);
    return result;
}
