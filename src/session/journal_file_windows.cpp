#include "journal.h"
#include "journal_row.h"

#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <windows.h>

namespace dorq {

namespace {

int lastError()
{
    return int(::GetLastError());
}

// Windows has no pipe that outlives the program for free, so rows are appended here, each
// with one WriteFile before the press returns; a thread of its own flushes the file at most
// once a second. On a disk whose flush blocks writes, a press can wait for that flush.
class InProcessFile : public JournalFile
{
public:
    InProcessFile(HANDLE file, QByteArray path, JournalFileListener &listener)
        : m_file(file), m_path(std::move(path)), m_listener(listener),
          m_flusher([this] { flushLoop(); })
    {
    }
    ~InProcessFile() override
    {
        finish(0);
        ::CloseHandle(m_file);
    }

    void append(const QByteArray &row, qint64 id) override
    {
        // Instances sharing the file take turns, so that a row is ended before another begins.
        OVERLAPPED whole = {};
        const bool locked =
            ::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
        const QByteArray bytes = prefix() + row;
        qsizetype done = 0;
        int error = 0;
        while (done < bytes.size() && !error) {
            DWORD written = 0;
            if (!::WriteFile(m_file, bytes.constData() + done, DWORD(bytes.size() - done), &written,
                             nullptr))
                error = lastError();
            else if (written == 0)
                error = ERROR_WRITE_FAULT;
            done += written;
        }
        if (locked)
            ::UnlockFileEx(m_file, 0, MAXDWORD, MAXDWORD, &whole);
        m_listener.settled(id, id, error ? 0 : 1);
        if (error) {
            m_whole = false;
            m_listener.failed(
                journalError(ErrorStep::JournalWrite, ErrorKind::Other, error, m_path));
            return;
        }
        int flushError = 0;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_dirty = true;
            std::swap(flushError, m_flushError);
        }
        m_wake.notify_one();
        if (flushError) {
            m_whole = false;
            m_listener.failed(
                journalError(ErrorStep::JournalSync, ErrorKind::Other, flushError, m_path));
        }
    }

    void closeInput() override {}
    bool ended() override { return true; } // every row went before its press returned

    // The rows are written already; the last flush is waited for.
    void finish(int) override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_flusher.joinable())
            m_flusher.join();
        if (!::FlushFileBuffers(m_file) && ::GetFileType(m_file) == FILE_TYPE_DISK && m_whole) {
            m_whole = false;
            m_listener.failed(
                journalError(ErrorStep::JournalSync, ErrorKind::Other, lastError(), m_path));
        }
    }

private:
    // The header in an empty file; a line break after a row that a full disk cut short.
    QByteArray prefix() const
    {
        LARGE_INTEGER size = {};
        if (::GetFileType(m_file) != FILE_TYPE_DISK || !::GetFileSizeEx(m_file, &size))
            return {};
        if (size.QuadPart == 0)
            return QByteArray(JournalHeader);
        OVERLAPPED at = {};
        at.Offset = DWORD((size.QuadPart - 1) & 0xffffffff);
        at.OffsetHigh = DWORD(size.QuadPart >> 32);
        char last = '\n';
        DWORD read = 0;
        if (::ReadFile(m_file, &last, 1, &read, &at) && read == 1 && last != '\n')
            return QByteArrayLiteral("\r\n");
        return {};
    }

    void flushLoop()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stopping) {
            m_wake.wait(lock, [this] { return m_stopping || m_dirty; });
            if (m_stopping)
                break;
            m_dirty = false;
            lock.unlock();
            const int error = ::FlushFileBuffers(m_file) ? 0 : lastError();
            lock.lock();
            if (error)
                m_flushError = error;
            m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stopping; });
        }
    }

    HANDLE m_file;
    QByteArray m_path;
    JournalFileListener &m_listener;
    bool m_whole = true;
    std::mutex m_mutex; // guards what the flushing thread shares
    std::condition_variable m_wake;
    bool m_dirty = false;
    bool m_stopping = false;
    int m_flushError = 0;
    std::thread m_flusher;
};

} // namespace

std::unique_ptr<JournalFile> JournalFile::open(const QByteArray &path,
                                               JournalFileListener &listener, Error &failure)
{
    const QString name = QString::fromUtf8(path);
    const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t *>(name.utf16()),
                                      FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const int error = lastError();
        failure = journalError(ErrorStep::JournalOpen, ErrorKind::Other, error, path);
        return nullptr;
    }
    if (::GetFileType(file) == FILE_TYPE_PIPE) {
        ::CloseHandle(file);
        failure = journalError(ErrorStep::JournalOpen, ErrorKind::NotAFile, 0, path);
        return nullptr;
    }
    return std::make_unique<InProcessFile>(file, path, listener);
}

} // namespace dorq
