// The container library under the copier on Linux: libgsf.

#include "containercheck.h"
#include "containerstorage.h"

// Only the headers we use: <gsf/gsf.h> pulls in GIO, whose `signals` clashes with Qt's.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include <utility>

namespace orbelant::containercopy {

namespace {

// Owns one GObject reference and drops it when it goes out of scope.
template <typename T>
class GRef {
public:
    explicit GRef(T *object = nullptr) : m_object(object) {}
    GRef(GRef &&other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    GRef(const GRef &) = delete;
    GRef &operator=(const GRef &) = delete;
    ~GRef()
    {
        if (m_object)
            g_object_unref(m_object);
    }
    T *get() const { return m_object; }

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

class GsfStorage final : public StoragePair {
public:
    GsfStorage(GsfInfile *old, GsfOutfile *copy, const QString &displayName) : m_old(old), m_copy(copy), m_displayName(displayName) {}

    bool copyClass() override
    {
        guint8 classId[16] = {};
        return gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(m_old.get()), classId)
            && gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(m_copy.get()), classId);
    }

    bool list(std::vector<Element> &elements) override
    {
        const int count = gsf_infile_num_children(m_old.get());
        for (int i = 0; i < count; ++i) {
            GsfInput *child = gsf_infile_child_by_index(m_old.get(), i);
            const char *name = child ? gsf_input_name(child) : nullptr;
            elements.push_back({QString::fromUtf8(name), GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0});
            m_children.emplace_back(child);
        }
        return count >= 0;
    }

    Result<std::unique_ptr<StoragePair>> openStorage(qsizetype index) override
    {
        GsfOutput *copy = newCopy(index, true);
        if (!copy)
            return buildFailed(m_displayName);
        return std::make_unique<GsfStorage>(GSF_INFILE(g_object_ref(child(index))), GSF_OUTFILE(copy), m_displayName);
    }

    bool closeStorage(qsizetype, std::unique_ptr<StoragePair> storage) override
    {
        return static_cast<GsfStorage &>(*storage).closeCopy();
    }

    qint64 openStream(qsizetype index) override
    {
        m_reading = child(index);
        return gsf_input_seek(m_reading, 0, G_SEEK_SET) ? -1 : gsf_input_size(m_reading);
    }

    bool readStream(char *out, qsizetype length) override
    {
        return gsf_input_read(m_reading, static_cast<size_t>(length), reinterpret_cast<guint8 *>(out)) != nullptr;
    }

    bool writeStream(qsizetype index, QByteArrayView bytes) override
    {
        const GRef<GsfOutput> copy(newCopy(index, false));
        return copy.get()
            && gsf_output_write(copy.get(), static_cast<size_t>(bytes.size()), reinterpret_cast<const guint8 *>(bytes.data()))
            && gsf_output_close(copy.get());
    }

    bool closeCopy() { return gsf_output_close(GSF_OUTPUT(m_copy.get())); }

private:
    GsfInput *child(qsizetype index) const { return m_children[size_t(index)].get(); }

    // The copy of element `index`, with its modification time.
    GsfOutput *newCopy(qsizetype index, bool storage)
    {
        return gsf_outfile_new_child_full(m_copy.get(), gsf_input_name(child(index)), storage, "modtime",
                                          gsf_input_get_modtime(child(index)), nullptr);
    }

    GRef<GsfInfile> m_old;
    GRef<GsfOutfile> m_copy;
    QString m_displayName;
    std::vector<GRef<GsfInput>> m_children;
    GsfInput *m_reading = nullptr; // one of the children
};

// The new container is built in memory.
class GsfContainer final : public ContainerPair {
public:
    GsfContainer(GRef<GsfInput> input, GRef<GsfOutput> sink, GsfInfile *old, GsfOutfile *copy, const QString &displayName)
        : m_input(std::move(input)), m_sink(std::move(sink)), m_root(old, copy, displayName)
    {
    }
    StoragePair &root() override { return m_root; }
    bool finish() override { return m_root.closeCopy(); }
    QByteArrayView bytes() const override
    {
        const gsf_off_t size = gsf_output_size(m_sink.get());
        const guint8 *bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(m_sink.get()));
        if (!bytes || size <= 0)
            return {};
        return QByteArrayView(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(size));
    }

private:
    GRef<GsfInput> m_input;
    GRef<GsfOutput> m_sink;
    GsfStorage m_root; // goes first: it reads from the input and writes into the sink
};

} // namespace

Result<std::unique_ptr<ContainerPair>> openContainerPair(const QByteArray &fileBytes, const QString &displayName)
{
    silenceLibgsf();
    // The bytes are not copied: they outlive the old root and everything read from it.
    GRef<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8 *>(fileBytes.constData()), fileBytes.size(), FALSE));
    GError *error = nullptr;
    GsfInfile *old = input.get() ? gsf_infile_msole_new(input.get(), &error) : nullptr;
    g_clear_error(&error);
    if (!old)
        return damagedContainer(displayName, QStringLiteral("нарушена структура контейнера OLE2"));
    GRef<GsfOutput> sink(gsf_output_memory_new());
    GsfOutfile *copy = sink.get() ? gsf_outfile_msole_new(sink.get()) : nullptr;
    if (!copy) {
        g_object_unref(old);
        return buildFailed(displayName);
    }
    return std::make_unique<GsfContainer>(std::move(input), std::move(sink), old, copy, displayName);
}

} // namespace orbelant::containercopy
