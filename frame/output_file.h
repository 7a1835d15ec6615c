// Output files that never appear half written.
//
// An OutputFile writes under a temporary name in the folder of its final name
// and moves the finished file over the final name only on commit(), after
// every write and the close have succeeded. A failure, or destruction without
// commit(), removes the temporary file, and a file that already has the final
// name stays as it was.
#ifndef SORVAN_FRAME_OUTPUT_FILE_H
#define SORVAN_FRAME_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace sorvan {

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { abandon(); }

    // Creates the temporary file for final_name, in text mode unless binary
    // is set. Returns its stream, or nullptr with error() set when it cannot
    // be created.
    std::FILE *open(const char *final_name, bool binary = false);

    std::FILE *stream() const { return stream_; }

    // Checks the stream for write errors, closes it and renames the file into
    // place. Returns false with error() set, and no file left, on any failure.
    bool commit();

    // Closes and removes the temporary file, if one is open.
    void abandon();

    // What went wrong last, naming the file ("cannot write out.bdf: ...").
    const std::string &error() const { return error_; }

    // The system's error number behind error(); 0 when none.
    int error_number() const { return errno_; }

  private:
    bool fail(const char *what, int err);

    std::FILE *stream_ = nullptr;
    std::string final_;
    std::string temp_;
    std::string error_;
    int errno_ = 0;
};

} // namespace sorvan

#endif
