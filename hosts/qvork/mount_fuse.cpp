// The FUSE side of `qvork mount`: libfuse's high-level operations, each one
// answered from the MountIndex, which serialises whatever reaches the
// plug-in. Reads go straight to the extracted body's descriptor, so
// concurrent readers only wait for each other on a file's first open.
#define FUSE_USE_VERSION 312
#include <fuse.h>
#include <fuse_lowlevel.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hosts/qvork/mount_fuse.h"

namespace qvork_host {

namespace {

MountIndex &Index() { return *static_cast<MountIndex *>(fuse_get_context()->private_data); }

// The handle of an open file: the body's descriptor and the entry's id.
uint64_t HandleOf(int fd, int id) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(id)) << 32) | static_cast<uint32_t>(fd);
}
int FdOf(uint64_t handle) { return static_cast<int>(handle & 0xffffffffu); }
int IdOf(uint64_t handle) { return static_cast<int>(handle >> 32); }

void *Init(struct fuse_conn_info *connection, struct fuse_config *config) {
    // Reads are answered with the body's descriptor (ReadBuffer): where the
    // kernel can, the bytes are spliced from it to the reader, never copied
    // through this process.
    connection->want |= connection->capable & (FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE);
    // Nothing under the mount ever changes: the kernel may keep all it learns.
    config->use_ino = 1;
    config->kernel_cache = 1;
    config->entry_timeout = 3600;
    config->attr_timeout = 3600;
    config->negative_timeout = 3600;
    return fuse_get_context()->private_data;
}

int GetAttr(const char *path, struct stat *st, struct fuse_file_info *) {
    const int id = Index().Lookup(path);
    return id < 0 ? id : Index().Stat(id, *st);
}

int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t,
            struct fuse_file_info *, enum fuse_readdir_flags) {
    const int id = Index().Lookup(path);
    if (id < 0) {
        return id;
    }
    std::vector<std::pair<std::string, int>> names;
    const int listed = Index().List(id, names);
    if (listed < 0) {
        return listed;
    }
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const auto &[name, child] : names) {
        // The type only: a file's full stat would read its header.
        struct stat st;
        std::memset(&st, 0, sizeof(st));
        st.st_ino = static_cast<ino_t>(child) + 1;
        st.st_mode = Index().IsFolder(child) ? S_IFDIR : S_IFREG;
        if (fill(buffer, name.c_str(), &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) {
            break;
        }
    }
    return 0;
}

int Open(const char *path, struct fuse_file_info *info) {
    if ((info->flags & O_ACCMODE) != O_RDONLY) {
        return -EROFS;
    }
    const int id = Index().Lookup(path);
    if (id < 0) {
        return id;
    }
    const int fd = Index().OpenBody(id);
    if (fd < 0) {
        return fd;
    }
    info->fh = HandleOf(fd, id);
    info->keep_cache = 1;
    return 0;
}

int ReadBuffer(const char *, struct fuse_bufvec **answer, size_t size, off_t offset,
               struct fuse_file_info *info) {
    auto *vector = static_cast<struct fuse_bufvec *>(std::malloc(sizeof(struct fuse_bufvec)));
    if (vector == nullptr) {
        return -ENOMEM;
    }
    *vector = FUSE_BUFVEC_INIT(size);
    vector->buf[0].flags = static_cast<enum fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK |
                                                            FUSE_BUF_FD_RETRY);
    vector->buf[0].fd = FdOf(info->fh);
    vector->buf[0].pos = offset;
    *answer = vector;
    return 0;
}

int Release(const char *, struct fuse_file_info *info) {
    Index().CloseBody(IdOf(info->fh));
    return 0;
}

// The xattr calls' answer: the length asked for (size 0), ERANGE when
// `text` does not fit, else `text` copied.
int AttributeAnswer(const std::string &text, char *buffer, size_t size) {
    if (size == 0) {
        return static_cast<int>(text.size());
    }
    if (size < text.size()) {
        return -ERANGE;
    }
    std::memcpy(buffer, text.data(), text.size());
    return static_cast<int>(text.size());
}

int GetXattr(const char *path, const char *name, char *value, size_t size) {
    const int id = Index().Lookup(path);
    if (id < 0) {
        return id;
    }
    std::string text;
    const int found = Index().Attribute(id, name, text);
    if (found < 0) {
        return found;
    }
    return AttributeAnswer(text, value, size);
}

int ListXattr(const char *path, char *list, size_t size) {
    const int id = Index().Lookup(path);
    if (id < 0) {
        return id;
    }
    std::vector<std::string> names;
    Index().AttributeNames(id, names);
    std::string joined;
    for (const std::string &name : names) {
        joined.append(name).push_back('\0');
    }
    return AttributeAnswer(joined, list, size);
}

} // namespace

int RunFuse(MountIndex &index, const std::vector<std::string> &arguments) {
    struct fuse_operations operations;
    std::memset(&operations, 0, sizeof(operations));
    operations.init = Init;
    operations.getattr = GetAttr;
    operations.readdir = ReadDir;
    operations.open = Open;
    operations.read_buf = ReadBuffer;
    operations.release = Release;
    operations.getxattr = GetXattr;
    operations.listxattr = ListXattr;
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    // fuse_main's steps, with the thread count given: its own default
    // draws a warning from libfuse 3.14.
    struct fuse_args args = FUSE_ARGS_INIT(static_cast<int>(arguments.size()), argv.data());
    struct fuse_cmdline_opts options;
    std::memset(&options, 0, sizeof(options));
    if (fuse_parse_cmdline(&args, &options) != 0 || options.mountpoint == nullptr) {
        fuse_opt_free_args(&args);
        return 1;
    }
    int status = 1;
    struct fuse *fuse = fuse_new(&args, &operations, sizeof(operations), &index);
    if (fuse != nullptr && fuse_mount(fuse, options.mountpoint) == 0) {
        struct fuse_session *session = fuse_get_session(fuse);
        const bool daemonized = fuse_daemonize(options.foreground) == 0;
        if (daemonized && !options.foreground) {
            // Standard error is gone now: the mount's words go to the
            // system log (journalctl -t qvork).
            MountIndex::SendWarningsToSystemLog();
        }
        if (daemonized && fuse_set_signal_handlers(session) == 0) {
            if (options.singlethread) {
                status = fuse_loop(fuse);
            } else {
                struct fuse_loop_config *loop = fuse_loop_cfg_create();
                fuse_loop_cfg_set_max_threads(loop, 8);
                fuse_loop_cfg_set_idle_threads(loop, 4);
                status = fuse_loop_mt(fuse, loop);
                fuse_loop_cfg_destroy(loop);
            }
            // A signal that ended the loop is a normal end: Ctrl+C unmounts.
            status = status > 0 ? 0 : status;
            fuse_remove_signal_handlers(session);
        }
        fuse_unmount(fuse);
    }
    if (fuse != nullptr) {
        fuse_destroy(fuse);
    }
    free(options.mountpoint);
    fuse_opt_free_args(&args);
    return status;
}

#if defined(__SANITIZE_ADDRESS__)
// Ended from inside a request while readers still hold folders open (the
// site file changed), libfuse leaves their listing buffers and its threads'
// contexts to the process's end: its memory, not a leak of this program's.
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions() {
    return "leak:libfuse3.so\n";
}
#endif

void StopFuse() {
    if (struct fuse_context *context = fuse_get_context()) {
        if (context->fuse != nullptr) {
            fuse_exit(context->fuse);
        }
    }
}

} // namespace qvork_host
