// Output files that never appear half written.
//
// An OutputFile writes under a temporary name in the folder of its final name
// and moves the finished file over the final name only on commit(), after
// every write and the close have succeeded. A failure, or destruction without
// commit(), removes the temporary file, and a file that already has the final
// name stays as it was.
//
// Files that belong together (the four members of an ABC set, a profile and
// its table and plot) are finished one by one and then moved into place by
// commit_together(): either all of them replace their final names or none
// does, so a set on disk is never a mix of old and new members.
#ifndef SORVAN_FRAME_OUTPUT_FILE_H
#define SORVAN_FRAME_OUTPUT_FILE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace sorvan {

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { abandon(); }

    // Creates the temporary file for final_name, in text mode unless binary
    // is set, with a stream buffer of `buffer` bytes (large writes keep
    // files of hundreds of megabytes at the speed of the disk; the system's
    // default buffer when that much memory cannot be had). Returns its
    // stream, or nullptr with error() set when it cannot be created.
    std::FILE *open(const char *final_name, bool binary = false, std::size_t buffer = buffer_size);

    std::FILE *stream() const { return stream_; }

    // For a file that another writer writes under its final name, whole or
    // not at all (the host's RPC III services, say): keeps the file of that
    // name that is there now under a backup name, so that a failure of the
    // set it belongs to can put it back. The file counts as finished; until
    // it is committed, abandon() restores what was there before (or removes
    // the new file when there was none).
    void written_in_place(const char *final_name);

    // Checks the stream for write errors and closes it, keeping the
    // temporary file for commit_together(). Returns false with error() set,
    // and no file left, on any failure.
    bool finish();

    // finish(), then renames the file into place. Returns false with error()
    // set, and no file left, on any failure.
    bool commit();

    // Closes and removes the temporary file, if one is open.
    void abandon();

    // What went wrong last, naming the file ("cannot write out.bdf: ...").
    const std::string &error() const { return error_; }

    // The system's error number behind error(); 0 when none.
    int error_number() const { return errno_; }

    static constexpr std::size_t buffer_size = std::size_t{1} << 20;

    // Moves every finished file over its final name, or none: an existing
    // file of a final name is kept under a backup name until every move has
    // succeeded, and put back when one fails. Returns false with error() of
    // the file at fault set; every temporary file is gone afterwards.
    friend bool commit_together(const std::vector<OutputFile *> &files);

  private:
    bool fail(const char *what, int err);
    int close_stream();

    std::FILE *stream_ = nullptr;
    char *buffer_ = nullptr; // the stream's buffer, released after its close
    std::string final_;
    std::string temp_;
    std::string error_;
    int errno_ = 0;
    bool finished_ = false; // the temporary file is complete and closed
    bool in_place_ = false; // written under the final name by another writer
    bool existed_ = false;  // in place: a file of the final name was there before
    std::string backup_;    // in place: where that file is kept meanwhile
};

bool commit_together(const std::vector<OutputFile *> &files);

} // namespace sorvan

#endif
