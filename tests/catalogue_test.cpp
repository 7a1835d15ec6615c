// The catalogue of bad input (tests/data/cases/catalogue.txt): one row per
// fault, for every reader and every host function. Each
// row starts from the test truck in a fresh folder, breaks one thing, runs
// one entry and states the result and a fragment of the message the fault
// must give. Afterwards the folder must hold what it held before, plus the
// files a row that must work writes; no array or file handle of the host
// may be left open, and the sanitizer build checks that nothing leaks. The
// file's header describes its columns, the setup steps and the escapes.
#include "analysis/deck.h"
#include "support/cases.h"
#include "support/host_fixture.h"

#include "sorvan_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

// A MAP file may declare 2^31 - 1 records; the record's arrays for them are
// asked for before the tables are read. Under the address sanitizer such a
// request must fail with NULL, as it does without it, so that the converter
// reports it instead of the sanitizer ending the program.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// A field's escapes, steps and words are those of the shared table reader.
using sorvan::test::decode;
using sorvan::test::Quotes;
using sorvan::test::read_bytes;
using sorvan::test::split;
using sorvan::test::trim;
using sorvan::test::write_bytes;

// ======================================================================
// What a row may change
// ======================================================================

// Everything one row may change, at values that work. The files of the
// model sit in the row's folder, which is the working directory.
struct Bench {
    // the converter and the readers
    std::string map = "truck.map", abc = "truck_";
    std::string labels[3] = {"m", "N", "kg"};
    // the unit label lookup
    std::string label = "mm";
    // the host command: object type (none: no object), attribute 505,
    // the unit objects' labels
    std::optional<int32_t> command_type = sorvan::host_codes::command_object_type;
    std::vector<double> values = {1, 2, 3, 4, 1e9, 1e6, 1e6, 1e4};
    std::string unit_labels[4] = {"m", "N", "kg", "s"};
    // the state matrix writer: 8 sizes and 4 value sets (none: missing)
    std::optional<int32_t> sizes[8] = {2, 2, 2, 1, 2, 2, 2, 1};
    std::optional<std::vector<double>> matrices[4] = {
        std::vector<double>{0, 1, -1, 0}, std::vector<double>{1, 2},
        std::vector<double>{1, 0, 0, 1}, std::vector<double>{0, 0}};
    std::string base = "state_";
    double freq = 0.0;
    // the road profile command (none: no array)
    std::optional<std::vector<int32_t>> ints = std::vector<int32_t>{1, 4711};
    std::optional<std::vector<double>> reals =
        std::vector<double>{1e-6, 1e-8, 1e-7, 1.5, 30.0, 0.125};
    std::optional<std::vector<std::string>> strings =
        std::vector<std::string>{"road.rsp", "left", "right"};
    std::optional<std::vector<std::string>> reals_as_texts; // replaces reals
};

double number(const std::string &text) {
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    EXPECT_TRUE(!text.empty() && *end == '\0') << "not a number: " << text;
    return v;
}

int32_t integer(const std::string &text) {
    return static_cast<int32_t>(std::strtoll(text.c_str(), nullptr, 10));
}

// The words from `from` on, converted.
template <class F> auto list(const std::vector<std::string> &words, size_t from, F convert) {
    std::vector<decltype(convert(words[0]))> out;
    for (size_t k = from; k < words.size(); ++k)
        out.push_back(convert(words[k]));
    return out;
}

// A list that may be missing: "none" for no list at all.
template <class T, class F>
void set_list(std::optional<std::vector<T>> &field, const std::vector<std::string> &words,
              size_t from, F convert) {
    if (words.size() == from + 1 && words[from] == "none") return field.reset();
    field = list(words, from, convert);
}

// "set KEY VALUE...": one field of the bench, or a converter parameter.
void set(Bench &b, const std::vector<std::string> &w) {
    const std::string key = w.at(1), v = w.size() > 2 ? w[2] : "", at = w.size() > 3 ? w[3] : "";
    const size_t k = static_cast<size_t>(integer(v));
    auto text = [](const std::string &s) { return s; };
    for (auto [name, field] : {std::pair{"map", &Bench::map},
                               {"abc", &Bench::abc},
                               {"label", &Bench::label},
                               {"base", &Bench::base}})
        if (key == name) return void(b.*field = v);
    if (key == "lu") return void(b.labels[0] = v);
    if (key == "type")
        return void(b.command_type = v == "none" ? std::nullopt : std::optional(integer(v)));
    if (key == "values") return void(b.values = list(w, 2, number));
    if (key == "value") return void(b.values.at(k) = number(at));
    if (key == "unit") return void(b.unit_labels[k] = at);
    if (key == "size")
        return void(b.sizes[k] = at == "none" ? std::nullopt : std::optional(integer(at)));
    if (key == "matrix") return set_list(b.matrices[k], w, 3, number);
    if (key == "freq") return void(b.freq = number(v));
    if (key == "ints") return set_list(b.ints, w, 2, integer);
    if (key == "reals") return set_list(b.reals, w, 2, number);
    if (key == "strings") return set_list(b.strings, w, 2, text);
    if (key == "reals_as_texts") return set_list(b.reals_as_texts, w, 2, text);
    if (key == "int") return void(b.ints->at(k) = integer(at));
    if (key == "real") return void(b.reals->at(k) = number(at));
    if (key == "string") return void(b.strings->at(k) = at);
    if (key == "tf_id") return void(tf_id = integer(v));
    if (key == "whl_dv") return void(whl_dv = integer(v));
    if (key == "v_stif") return void(v_stif = number(v));
    ADD_FAILURE() << "unknown key " << key;
}

// ======================================================================
// Making the faults
// ======================================================================

// The position of text in the file; a setup that does not find it fails.
size_t find(const std::string &file, const std::string &whole, const std::string &text) {
    const size_t at = whole.find(text);
    EXPECT_NE(at, std::string::npos) << file << " holds no " << text;
    return at;
}

// One step of a row's setup (see the file's header).
void step(Bench &b, const std::string &raw) {
    const std::string op = trim(raw);
    const std::string verb = op.substr(0, op.find(' '));
    std::vector<std::string> w;
    for (const std::string &token : split(op, ' ', Quotes::out))
        w.push_back(decode(token));
    auto arg = [&](size_t k) -> const std::string & {
        static const std::string none;
        EXPECT_LT(k, w.size()) << op;
        return k < w.size() ? w[k] : none;
    };
    const std::string &file = arg(1);
    if (verb == "set") {
        set(b, w);
    } else if (verb == "edit") { // FILE FROM TO: the first FROM
        std::string text = read_bytes(file);
        const size_t at = find(file, text, arg(2));
        if (at != std::string::npos) write_bytes(file, text.replace(at, arg(2).size(), arg(3)));
    } else if (verb == "cut") { // FILE TEXT [N]: up to TEXT and N more bytes
        const std::string text = read_bytes(file);
        const size_t at = find(file, text, arg(2));
        const size_t extra = w.size() > 3 ? std::stoul(w[3]) : 0;
        if (at != std::string::npos) write_bytes(file, text.substr(0, at + extra));
    } else if (verb == "drop") { // FILE N: all but the last N bytes
        const std::string text = read_bytes(file);
        write_bytes(
            file, text.substr(0, text.size() - std::min<size_t>(text.size(), std::stoul(arg(2)))));
    } else if (verb == "lengthen") { // FILE LINE TEXT: TEXT at the end of line LINE
        std::string text = read_bytes(file);
        size_t at = 0;
        for (int k = 0, line = integer(arg(2)); k < line && at != std::string::npos; ++k)
            at = text.find('\n', k == 0 ? 0 : at + 1);
        ASSERT_NE(at, std::string::npos) << file << " has no line " << arg(2);
        write_bytes(file, text.insert(at, arg(3)));
    } else if (verb == "put") { // FILE TEXT
        write_bytes(file, arg(2));
    } else if (verb == "data") { // PATH NAME: a file of tests/data
        fs::copy_file(std::string(SORVAN_TEST_DATA) + "/" + file, arg(2));
    } else if (verb == "rename") { // MAP BASE: the model under other names
        sorvan::test::rename_file(b.map, file);
        for (char l : {'a', 'b', 'c', 'd'})
            sorvan::test::rename_file(b.abc + l, arg(2) + l);
        b.map = file;
        b.abc = arg(2);
    } else if (verb == "copy") {
        fs::copy_file(file, arg(2));
    } else if (verb == "remove") {
        fs::remove(file);
    } else if (verb == "mkdir") {
        fs::remove(file);
        fs::create_directories(file);
    } else if (verb == "symlink") { // TARGET NAME
        fs::create_symlink(file, arg(2));
    } else if (verb == "hardlink") { // TARGET NAME
        fs::create_hard_link(file, arg(2));
#ifndef _WIN32
    } else if (verb == "fifo") {
        ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
#endif
    } else {
        ADD_FAILURE() << "unknown step " << verb;
    }
}

// ======================================================================
// The entries
// ======================================================================

double read_set(const Bench &b) {
    bool all = true;
    for (char l : {'a', 'b', 'c', 'd'}) {
        ABCmtx *m = ABCread_mtx(b.abc.c_str(), l);
        all = all && m != nullptr;
        ABCfree(m);
    }
    return all ? 1 : 0;
}

double read_map(const Bench &b) {
    FILE *file = std::fopen(b.map.c_str(), "r");
    if (!file) return -99;
    auto *map = static_cast<MAPmodel *>(std::calloc(1, sizeof(MAPmodel)));
    int (*const readers[])(MAPmodel *, FILE *) = {
        MAPread_size,           MAPread_unit, nullptr,         MAPread_input, MAPread_output,
        MAPread_external_input, MAPread_node, MAPread_element, MAPread_wheel};
    int status = MAP_OK;
    for (auto reader : readers)
        if (status == MAP_OK) status = reader ? reader(map, file) : MAPalloc(map);
    if (status == MAP_OK) MAPfree(map); // MAPerror has released it otherwise
    std::fclose(file);
    return status;
}

double lookup_unit(const Bench &b) {
    const size_t room = std::max<size_t>(b.label.size() + 1, 15);
    std::vector<char> label(room, '\0');
    std::memcpy(label.data(), b.label.data(), b.label.size());
    const std::vector<char> before = label;
    const double value = UNTconstant(label.data());
    if (value == 0.0) {
        EXPECT_EQ(label, before) << "a refused label must stay as it was";
    }
    return value;
}

double convert(const Bench &b) {
    char labels[3][64];
    for (int k = 0; k < 3; ++k)
        std::snprintf(labels[k], sizeof labels[k], "%s", b.labels[k].c_str());
    return kavel2pelda(b.map.c_str(), b.abc.c_str(), labels[0], labels[1], labels[2], '1');
}

double command(const Bench &b) {
    ac_object obj = nullptr;
    if (b.command_type) {
        const char *labels[4];
        for (int k = 0; k < 4; ++k)
            labels[k] = b.unit_labels[k].c_str();
        obj = sorvan::test::command_object(labels, b.values.data(),
                                           static_cast<int32_t>(b.values.size()), *b.command_type);
    }
    return kavel2pelda_full(obj, b.map.c_str(), b.abc.c_str());
}

double statemat(const Bench &b) {
    using sorvan::host_codes::state_matrices;
    ac_object obj = plexa_object_create(1, nullptr);
    for (int k = 0; k < 8; ++k)
        if (b.sizes[k])
            plexa_set_int(obj, k % 2 ? state_matrices[k / 2].cols : state_matrices[k / 2].rows,
                          *b.sizes[k]);
    for (int k = 0; k < 4; ++k)
        if (b.matrices[k])
            plexa_set_reals(obj, state_matrices[k].values, b.matrices[k]->data(),
                            static_cast<int32_t>(b.matrices[k]->size()));
    return stmatwri(obj, b.base.c_str(), b.freq, 1.0);
}

template <class T> vc_array host_array(const std::optional<std::vector<T>> &v, int32_t type) {
    if (!v) return nullptr;
    vc_array a = plexa_array_create(type, static_cast<int32_t>(v->size()));
    for (size_t i = 0; i < v->size(); ++i) {
        const int32_t at = static_cast<int32_t>(i);
        if constexpr (std::is_same_v<T, int32_t>)
            plexa_array_set_int(a, at, (*v)[i]);
        else if constexpr (std::is_same_v<T, double>)
            plexa_array_set_real(a, at, (*v)[i]);
        else
            plexa_array_set_text(a, at, (*v)[i].c_str());
    }
    return a;
}

double road(const Bench &b) {
    vc_array ints = host_array(b.ints, VC_INTEGER);
    vc_array reals =
        b.reals_as_texts ? host_array(b.reals_as_texts, VC_TEXT) : host_array(b.reals, VC_REAL);
    vc_array strings = host_array(b.strings, VC_TEXT);
    vc_array result = cmd_to_genrprof_sayers(ints, reals, strings);
    int32_t status = -99;
    EXPECT_EQ(vc_array_element_count(result), 1);
    plexa_array_get_int(result, 0, &status);
    for (vc_array a : {ints, reals, strings, result})
        plexa_array_free(a);
    EXPECT_EQ(plexa_array_live_count(), 0) << "an array was left behind";
    EXPECT_EQ(plexa_rpc_open_count(), 0) << "a file handle was left open";
    return status;
}

// ======================================================================
// The rows
// ======================================================================

struct Row {
    int line;            // in the file
    std::string entry;   // abc, map, units, convert, command, statemat, road
    std::string breaks;  // what the row breaks
    std::string setup;   // its steps, raw
    double code;         // the result the entry must give
    std::string message; // a fragment of what it prints or reports, raw ("" none)
    std::string creates; // files it must write (rows that work), raw
    std::string unsaid;  // a fragment that must not be printed, raw
};

// The entry each row names runs its bench.
const std::map<std::string, double (*)(const Bench &)> runners = {
    {"abc", read_set},    {"map", read_map},      {"units", lookup_unit}, {"convert", convert},
    {"command", command}, {"statemat", statemat}, {"road", road}};

// The rows of this system: "posix" rows need names of any bytes, devices
// and pipes.
std::vector<Row> load_rows() {
    std::vector<Row> rows;
    for (sorvan::test::Case &c :
         sorvan::test::read_cases("catalogue.txt", sorvan::test::Fields::raw)) {
        std::vector<std::string> &f = c.fields;
        f.resize(7);
        std::vector<std::string> entry = split(f[0], ' ', Quotes::plain);
        bool here = !entry.empty() && runners.count(entry[0]) == 1;
#ifdef _WIN32
        here = here && std::find(entry.begin(), entry.end(), "posix") == entry.end();
#endif
        if (here)
            rows.push_back({c.line, entry[0], f[1], f[2], std::strtod(f[3].c_str(), nullptr), f[4],
                            f[5], f[6]});
    }
    return rows;
}

const std::vector<Row> &rows() {
    static const std::vector<Row> all = load_rows();
    return all;
}

// A row's name in the test report: the entry, the row number and the
// first words of what it breaks, letters and digits only.
std::string row_name(size_t index) {
    const Row &r = rows()[index];
    char number[8];
    std::snprintf(number, sizeof number, "%03zu", index);
    const std::string words = std::regex_replace(r.breaks, std::regex("[^A-Za-z0-9]+"), "_");
    return (r.entry + "_" + number + "_" + words).substr(0, 60);
}

class Catalogue : public sorvan::test::ConverterFolder,
                  public ::testing::WithParamInterface<size_t> {
  protected:
    Catalogue() : ConverterFolder("catalogue") {}
};

TEST_P(Catalogue, RefusedAsTheRowSays) {
    const Row &r = rows()[GetParam()];
    SCOPED_TRACE("catalogue.txt line " + std::to_string(r.line) + ", " + r.entry + ": " + r.breaks);
    copy_truck();
    Bench bench;
    for (const std::string &s : split(r.setup, ';', Quotes::kept))
        if (!trim(s).empty()) step(bench, s);
    if (HasFailure()) return;
    auto before = folder();

    plexa_error_clear();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const double code = runners.at(r.entry)(bench);
    std::string text = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr(); // the error channel keeps it
    if (plexa_error_count() > 0) text += std::string("\n[host] ") + plexa_error_last();

    EXPECT_EQ(code, r.code) << text;
    const std::string message = decode(r.message), unsaid = decode(r.unsaid);
    EXPECT_NE(text.find(message), std::string::npos) << "wanted: " << message << "\ngot: " << text;
    if (!unsaid.empty()) {
        EXPECT_EQ(text.find(unsaid), std::string::npos) << "said: " << unsaid << "\ngot: " << text;
    }
    auto after = folder();
    for (const std::string &raw : split(r.creates, ' ', Quotes::out)) {
        const std::string name = decode(raw);
        ASSERT_EQ(after.count(name), 1u) << name << " was not written";
        if (name.size() > 4 && name.substr(name.size() - 4) == ".bdf") {
            sorvan::analysis::Deck deck;
            std::string error;
            EXPECT_TRUE(sorvan::analysis::read_deck_text(after[name], name, deck, error)) << error;
            EXPECT_FALSE(deck.tfs.empty()) << name;
        }
        after.erase(name);
        before.erase(name); // a file the row replaces
    }
    EXPECT_EQ(after, before) << "the folder changed";
}

INSTANTIATE_TEST_SUITE_P(Row, Catalogue, ::testing::Range<size_t>(0, rows().size()),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             return row_name(info.param);
                         });

} // namespace
