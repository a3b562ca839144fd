#include "containercopy.h"
#include "containercheck.h"

// Only the headers we use: <gsf/gsf.h> pulls in GIO, whose `signals` clashes with Qt's.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include <utility>

namespace orbelant {

namespace {

constexpr qsizetype CopyChunkBytes = 64 * 1024;
// Excel's own files nest two storages deep (_VBA_PROJECT_CUR/VBA).
constexpr int MaxStorageDepth = 32;

// Owns one GObject reference and drops it when it goes out of scope.
template <typename T>
class GRef {
public:
    explicit GRef(T *object = nullptr) : m_object(object) {}
    GRef(const GRef &) = delete;
    GRef &operator=(const GRef &) = delete;
    ~GRef()
    {
        if (m_object)
            g_object_unref(m_object);
    }
    T *get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T *m_object;
};

void dropMessage(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

// libgsf (and GLib under it) print warnings about damaged containers to the terminal; our
// own error value is the one message the user gets.
void silenceLibgsf()
{
    static const bool silenced = [] {
        const auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char *domain : {static_cast<const char *>(nullptr), "libgsf", "libgsf:msole", "GLib", "GLib-GObject"})
            g_log_set_handler(domain, levels, dropMessage, nullptr);
        return true;
    }();
    Q_UNUSED(silenced);
}

bool isStorage(GsfInput *entry)
{
    return GSF_IS_INFILE(entry) && gsf_infile_num_children(GSF_INFILE(entry)) >= 0;
}

class ContainerCopier {
public:
    ContainerCopier(const QString &displayName, const QString &workbookName, const QByteArray &stream)
        : m_displayName(displayName), m_workbookName(workbookName.toUtf8()), m_workbookStream(stream)
    {
    }

    Result<void> copy(GsfInfile *sourceRoot, const ContainerConsumer &consume)
    {
        GRef<GsfOutput> sink(gsf_output_memory_new());
        GRef<GsfOutfile> targetRoot(sink ? gsf_outfile_msole_new(sink.get()) : nullptr);
        if (!targetRoot)
            return writeFailed();
        if (auto copied = copyStorage(sourceRoot, targetRoot.get(), 0); !copied)
            return copied;
        if (!gsf_output_close(GSF_OUTPUT(targetRoot.get())))
            return writeFailed();
        const gsf_off_t size = gsf_output_size(sink.get());
        const guint8 *bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get()));
        if (size <= 0 || size > MaxContainerBytes || !bytes)
            return writeFailed();
        return consume(QByteArrayView(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(size)));
    }

private:
    Result<void> copyStorage(GsfInfile *source, GsfOutfile *target, int depth)
    {
        if (depth > MaxStorageDepth)
            return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("слишком глубокая вложенность хранилищ")));
        guint8 classId[16] = {};
        if (!gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(source), classId)
            || !gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(target), classId))
            return writeFailed();
        const int count = gsf_infile_num_children(source);
        for (int i = 0; i < count; ++i) {
            GRef<GsfInput> entry(gsf_infile_child_by_index(source, i));
            const char *name = entry ? gsf_input_name(entry.get()) : nullptr;
            if (!name || !*name)
                return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("не читается элемент контейнера")));
            const bool storage = isStorage(entry.get());
            GRef<GsfOutput> copy(gsf_outfile_new_child_full(target, name, storage, "modtime",
                                                            gsf_input_get_modtime(entry.get()), nullptr));
            if (!copy)
                return writeFailed();
            Result<void> copied = storage ? copyStorage(GSF_INFILE(entry.get()), GSF_OUTFILE(copy.get()), depth + 1)
                : depth == 0 && m_workbookName == name ? writeBytes(copy.get(), m_workbookStream)
                                                       : copyStream(entry.get(), copy.get());
            if (!copied)
                return copied;
            if (!gsf_output_close(copy.get()))
                return writeFailed();
        }
        return {};
    }

    Result<void> copyStream(GsfInput *source, GsfOutput *target)
    {
        const gsf_off_t size = gsf_input_size(source);
        if (size < 0 || size > MaxContainerBytes || gsf_input_seek(source, 0, G_SEEK_SET))
            return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("не читается поток «%1»")
                                                                             .arg(QString::fromUtf8(gsf_input_name(source)))));
        QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
        for (qsizetype done = 0; done < bytes.size(); done += CopyChunkBytes) {
            const qsizetype chunk = std::min(CopyChunkBytes, bytes.size() - done);
            if (!gsf_input_read(source, static_cast<size_t>(chunk), reinterpret_cast<guint8 *>(bytes.data() + done)))
                return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("поток «%1» обрывается")
                                                                                 .arg(QString::fromUtf8(gsf_input_name(source)))));
        }
        return writeBytes(target, bytes);
    }

    // A damaged directory can point many entries at the same sectors; the total we are
    // willing to write is capped like a file we would read.
    Result<void> writeBytes(GsfOutput *target, const QByteArray &bytes)
    {
        m_bytesWritten += bytes.size();
        if (m_bytesWritten > MaxContainerBytes)
            return fail(ErrorCode::TooLarge, QStringLiteral("новый файл «%1» превысил бы %2 МБ")
                                                 .arg(m_displayName).arg(MaxContainerBytes >> 20));
        if (!gsf_output_write(target, static_cast<size_t>(bytes.size()), reinterpret_cast<const guint8 *>(bytes.constData())))
            return writeFailed();
        return {};
    }

    std::unexpected<Error> writeFailed() const
    {
        return orbelant::writeFailed(m_displayName, QStringLiteral("сбой при сборке нового файла"));
    }

    QString m_displayName;
    QByteArray m_workbookName;
    const QByteArray &m_workbookStream;
    qint64 m_bytesWritten = 0;
};

} // namespace

Result<void> copyContainer(const QByteArray &fileBytes, const QString &displayName, const QString &workbookName,
                           const QByteArray &stream, const ContainerConsumer &consume)
{
    silenceLibgsf();
    // The bytes are not copied: they outlive the root and everything read from it.
    GRef<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8 *>(fileBytes.constData()), fileBytes.size(), FALSE));
    GError *error = nullptr;
    GRef<GsfInfile> root(input ? gsf_infile_msole_new(input.get(), &error) : nullptr);
    g_clear_error(&error);
    if (!root)
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("нарушена структура контейнера OLE2")));
    return ContainerCopier(displayName, workbookName, stream).copy(root.get(), consume);
}

} // namespace orbelant
