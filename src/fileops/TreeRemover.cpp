#include "TreeRemover.h"

#include "platform/FolderStack.h"
#include "platform/ScopedDirectory.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// One removal run, depth first without recursion. The folders being emptied
// are held by a FolderStack (a bounded number of descriptors however deep the
// tree), each with its listing read in full before anything in it is
// removed, so that removing entries cannot disturb the reading.
class Removal
{
public:
    Removal(const FileSystem& fs, int parentFd, TreeRemover::Result* result)
        : m_fs(fs)
        , m_folders(fs, parentFd)
        , m_result(result)
    {
    }

    void run(const QByteArray& name, const QByteArray& path)
    {
        m_path = path;
        visit(name, DirectoryNames::Kind::Unknown);
        while (!m_stack.empty()) {
            Frame& frame = m_stack.back();
            if (frame.next < frame.names.names.size()) {
                const DirectoryNames::Name& child = frame.names.names.at(frame.next++);
                const QByteArray childName(frame.names.buffer.constData() + child.offset, child.length);
                m_path.truncate(frame.pathLength);
                m_path += '/' + childName;
                // visit may grow the stack: frame is not used after it.
                visit(childName, child.kind);
                continue;
            }
            const QByteArray folderName = frame.name;
            m_path.truncate(frame.pathLength);
            m_stack.pop_back();
            if (!leave()) {
                return;
            }
            if (const int error = m_fs.removeAt(m_folders.top(), folderName.constData(), m_path, true)) {
                fail(error);
            }
        }
    }

private:
    struct Frame
    {
        DirectoryNames names;
        qsizetype next = 0;
        QByteArray name;
        qsizetype pathLength = 0;
    };

    // Removes the entry name of the top folder (at m_path) if it is not a
    // folder, else opens it and puts it on the stack to be emptied.
    void visit(const QByteArray& name, DirectoryNames::Kind kind)
    {
        const int parentFd = m_folders.top();
        if (kind != DirectoryNames::Kind::Directory) {
            const int error = m_fs.removeAt(parentFd, name.constData(), m_path, false);
            if (error != EISDIR) {
                if (error) {
                    fail(error);
                }
                return;
            }
        }
        FileStat st;
        const int error = m_folders.push(name.constData(), m_path, &st);
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
        Frame frame;
        if (!m_haveDevice) {
            m_device = st.device;
            m_haveDevice = true;
        } else if (st.device != m_device) {
            fail(EXDEV);
            leave();
            return;
        }
        if (!m_fs.readDirectory(m_folders.top(), m_path, &frame.names)) {
            fail(errno);
            leave();
            return;
        }
        frame.name = name;
        frame.pathLength = m_path.size();
        m_stack.push_back(std::move(frame));
    }

    // Leaves the folder at m_path for the one above. When that cannot be
    // reached again (or is not the one left) the removal stops rather than
    // remove anything from a folder the walk did not choose: false.
    bool leave()
    {
        const qsizetype slash = m_path.lastIndexOf('/');
        if (const int error = m_folders.pop(m_path.left(slash > 0 ? slash : 1))) {
            fail(error);
            m_stack.clear();
            return false;
        }
        return true;
    }

    void fail(int error)
    {
        if (!m_result->error) {
            m_result->error = error;
            m_result->failedPath = FilePath(m_path);
        }
    }

    const FileSystem& m_fs;
    FolderStack m_folders;
    TreeRemover::Result* m_result;
    // One frame per folder held by m_folders.
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

TreeRemover::TreeRemover(FileSystemPtr fileSystem, TrustedRoots roots)
    : m_fs(std::move(fileSystem))
    , m_roots(std::move(roots))
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
    if (const int error = m_roots.openParent(*m_fs, target, parent.receive())) {
        result.error = error;
        result.failedPath = path;
        return result;
    }
    Removal(*m_fs, parent.get(), &result).run(name, target);
    return result;
}
