// The command lines of the sorvan commands: for each command its options
// with their placeholders, meanings, defaults and ranges, its synopsis and
// its help text. The parser, the --help texts and the README's tables all
// come from these tables.
#include "cli/commands.h"

namespace sorvan::cli {

namespace {

constexpr double unbounded = 1e308;
constexpr double int32_max = 2147483647.0;

// ---- convert ------------------------------------------------------------

const std::vector<OptionSpec> convert_options = {
    {"length-unit", "LABEL", "export length unit (m, mm, cm, km, inch, ft, mile, ...)", "METER",
     Kind::length},
    {"force-unit", "LABEL", "export force unit (N, mN, kN, lbf, kip, kgf, dyne, ...)", "NEWTON",
     Kind::force},
    {"mass-unit", "LABEL", "export mass unit (kg, gram, mgg, lbm, slug, ...)", "KILOGRAM",
     Kind::mass},
    {"time-unit", "LABEL",
     "export time unit (s, second, ms, min, MINUTE, hour, ...); only the coupling damping is "
     "converted with it: the state-space cards stay per second",
     "SECOND", Kind::time},
    {"tf-id", "N", "set identifier of every TF card", "1", Kind::integer, 1, 99999999},
    {"threshold", "X", "matrix terms of smaller magnitude are left out; 0 writes all", "1e-9",
     Kind::real, 0, unbounded},
    {"wheel-divisions", "N", "rim divisions of each wheel drawing", "24", Kind::integer, 1,
     1000000},
    {"stiffness", "X", "connecting stiffness, N/m", "1e9", Kind::real, 0, unbounded},
    {"damping", "X", "connecting damping, N*s/m", "1e6", Kind::real, 0, unbounded},
    {"torsional-stiffness", "X", "connecting torsional stiffness, N*m/rad", "1e6", Kind::real, 0,
     unbounded},
    {"torsional-damping", "X", "connecting torsional damping, N*m*s/rad", "1e4", Kind::real, 0,
     unbounded},
    {"output", "FILE", "write the deck to FILE instead of the name formed from the MAP file", "",
     Kind::text, 0, 0, false, 'o'},
    {"each", "", "convert several models: the words are MAP_FILE ABC_BASE pairs", "", Kind::flag},
    {"direct", "", "use the exported converter entry instead of the host function", "host function",
     Kind::flag},
    {"check", "", "check each deck written as sorvan check does; exit 1 when a check fails", "",
     Kind::flag},
    {"large-field", "",
     "TF and DMIG cards in large fields (TF*, DMIG*): 16-character reals of up to 13 "
     "significant digits instead of 4",
     "small fields", Kind::flag},
};

const CommandSpec convert_spec{
    "convert",
    "MAP_FILE ABC_BASE [OPTIONS]  |  convert --each MAP_FILE ABC_BASE [MAP_FILE ABC_BASE ...]",
    2,
    -1,
    "MAP_FILE and ABC_BASE",
    &convert_options,
    true,
    "Converts the linearised model described by MAP_FILE, with the state matrices in the files\n"
    "ABC_BASEa, ABC_BASEb, ABC_BASEc and ABC_BASEd, into a bulk data file named after MAP_FILE\n"
    "with the extension of its file name replaced by \"bdf\" (\".bdf\" appended when it has\n"
    "none), or into --output FILE. The file is written only when the whole conversion\n"
    "succeeds, and never over one of its input files.\n"
    "\n"
    "By default the conversion runs as the host runs it: the host function\n"
    "KAVEL2PELDA_BDF_WRITE is called with a command object built from the options. It reads\n"
    "the MAP file's external inputs and writes their stiffness section. --direct calls the\n"
    "exported converter kavel2pelda instead, which writes no external-input stiffness\n"
    "section. The connecting values are SI in both modes (the host function gets them\n"
    "converted to the MAP file's units), so both modes write the same value.\n"
    "\n"
    "Unit labels are case-blind and take the aliases of the MAP file's units section; an\n"
    "unknown label is answered with the labels accepted for its quantity. A time unit other\n"
    "than seconds is warned about: the state-space cards stay per second and only the\n"
    "coupling damping is converted with the time factor, so the deck mixes time bases unless\n"
    "the solver runs in seconds.",
    "With --each every pair is converted independently and reported; the exit status is that\n"
    "of the first failure (0 when all succeed). Many models spread over the cores with\n"
    "standard tools, for instance one conversion per MAP file, two at a time:\n"
    "    ls *.map | xargs -P 2 -I{} sh -c 'sorvan convert \"$1\" \"${1%.map}_\"' _ {}\n"
    "\n"
    "Exit status: 0 written; 1 to 8 the converter's result code negated (1 a file could not\n"
    "be read or written or its content was refused, 2 no state-space inputs, 3 no state-space\n"
    "outputs, 4 the input count differs from the columns of B, 5 the output count differs\n"
    "from the rows of C, 6 an unknown export unit, 7 the command object is not of type 64,\n"
    "8 the command object holds fewer than 8 values); 64 a bad command line; 69 the plug-in\n"
    "could not be loaded; 73 the BDF could not be read back for the summary."};

// ---- reduce -------------------------------------------------------------

const std::vector<OptionSpec> reduce_options = {
    {"max-frequency", "HZ", "frequency limit in hertz; 0 keeps every pair", "required", Kind::real,
     0, unbounded},
    {"drop-real-states", "", "drop every real (non-oscillating) state, whatever its frequency",
     "real states judged like pairs", Kind::flag},
    {"keep-real-states", "",
     "keep the real states within the limit (the default; kept for scripts)", "", Kind::flag},
    {"to-modal", "", "bring a model that is not in modal form to real modal coordinates first", "",
     Kind::flag},
    {"static-correction", "",
     "residualise the dropped states (D + C_t (-A_t)^-1 B_t) so that the static gain stays", "",
     Kind::flag},
    {"plot", "FILE.svg", "draw the worst pair's responses, full and reduced", ""},
};

const CommandSpec reduce_spec{
    "reduce",
    "IN_BASE OUT_BASE --max-frequency HZ [--to-modal] [--static-correction] "
    "[--drop-real-states] [--plot FILE.svg] [--json]",
    2,
    2,
    "IN_BASE and OUT_BASE",
    &reduce_options,
    true,
    "Reads the ABC set IN_BASEa to IN_BASEd, hands it to the host function STATEMAT_WRITE as\n"
    "a model object and lets it write the set OUT_BASEa to OUT_BASEd with only the states it\n"
    "keeps: A reduced in rows and columns, B in rows, C in columns, D whole. A must be in\n"
    "real modal form (1 x 1 blocks and 2 x 2 blocks [[s, w], [-w, s]] on its diagonal, every\n"
    "other term 0, each within 1e-12 of its block's magnitude; the blocks are made exact\n"
    "before the host function sees them); --to-modal brings any model to it first (x = V z\n"
    "with A's real eigenvectors, pairs ordered by frequency). A pair or a real state is kept\n"
    "when the modulus of its eigenvalue is at most 2 pi HZ. With --static-correction the\n"
    "dropped states are residualised into D. The reduced set is read back and compared with\n"
    "the full model: the static gain, and every pair's response up to the limit relative to\n"
    "its peak. The output set may not be the input set (compared by the files themselves,\n"
    "not by their names); it is written whole or not at all.",
    "Exit status: 0 written; 1 the matrices could not be fetched, their sizes disagree or a\n"
    "term is not a finite number; 2 a file could not be written; 3 no state kept, nothing\n"
    "written; 64 bad command line (the output set is the input set among them); 65 A not in\n"
    "modal form (without --to-modal), no modal basis to trust, or no static correction\n"
    "possible; 66 an input file unreadable, not a regular file or larger than 4 GiB; 69\n"
    "plug-in not loadable; 70 the command stopped (memory ran out); 73 the written set not\n"
    "readable afterwards or the plot not written."};

// ---- road ---------------------------------------------------------------

const std::vector<OptionSpec> road_options = {
    {"tracks", "N", "number of tracks", "1", Kind::integer, 1, 2},
    {"class", "A..H",
     "road class by Gd(0.1): sets gs = Gd(0.1) x 0.1^2 x (2 pi)^2, ge = Gd(0.1) / 1280, ga = 0; "
     "--ge, --gs, --ga still override",
     "", Kind::text},
    {"iri", "M_PER_KM",
     "scale ge, gs and ga alike so that the tracks' mean IRI for the seed is this, m/km", "",
     Kind::real, 0, unbounded, true},
    {"seed", "N", "seed; 0 or less takes one from the clock (printed)", "0", Kind::integer,
     -int32_max - 1, int32_max},
    {"ge", "X", "white-noise coefficient, mm^2*m", "0.05", Kind::real, 0, unbounded},
    {"gs", "X", "singly integrated coefficient, mm^2/m", "25.3", Kind::real, 0, unbounded},
    {"ga", "X", "doubly integrated coefficient, mm^2/m^3", "0", Kind::real, 0, unbounded},
    {"corr-length", "L",
     "two tracks: they part at wavelengths below about 1.41 L, m (coherence 0.5 near 4.4 m for "
     "the default)",
     "2", Kind::real, 0, unbounded, true},
    {"length", "L", "profile length, m", "1000", Kind::real, 0, unbounded},
    {"interval", "DX", "distance between samples, m", "0.1", Kind::real, 0, unbounded, true},
    {"labels", "LEFT[,RIGHT]", "channel labels, one per track", "left,right", Kind::text},
    {"csv", "FILE",
     "also write the table: distance_m, then one column per track named LABEL_mm, each number "
     "in its shortest exact form",
     "", Kind::text},
    {"psd-plot", "FILE.svg",
     "also draw the estimated spectral density (Welch) against the model on log-log axes and, "
     "for two tracks, their coherence (needs 64 samples)",
     "", Kind::text},
    {"speed", "KMH",
     "write a drive file in time for a vehicle at this speed: DELTA_T the interval over the "
     "speed in seconds, TIME_TYPE DRIVE, the time axis named (X_LABEL time, X_UNITS s) and "
     "the speed kept (SPEED_M_S), km/h",
     "distance-based", Kind::real, 0, unbounded, true},
};

const CommandSpec road_spec{
    "road",
    "OUT_FILE [OPTIONS]",
    1,
    1,
    "OUT_FILE",
    &road_options,
    true,
    "Synthesises one or two random road elevation tracks by the Sayers roughness model\n"
    "through the host function GENRPROF_SAYERS, which writes them as the channels of the\n"
    "RPC III file OUT_FILE (unit \"mm\", spacing --interval), and prints the sample count,\n"
    "the seed, the points that fill up the last group of the file (they repeat the last\n"
    "sample; the header key PADDED_POINTS counts them) and, for each track, its RMS, its\n"
    "International Roughness Index (IRI, m/km; profiles of 11 m or more) and its road class\n"
    "from the density fitted at 0.1 cycle/m (profiles of 320 m or more). A track's one-sided\n"
    "elevation spectral density at wavenumber v (cycle/m) is ge + gs / (2 pi v)^2 + ga /\n"
    "(2 pi v)^4. Distance is in metres, elevation in millimetres. The table and the plot are\n"
    "drawn from the very tracks written to the file; the three are written together: either\n"
    "all of them replace their files or, on any failure, none does. A seed of 0 or less is\n"
    "replaced by one from the clock (to the microsecond), which is printed; giving it back\n"
    "with --seed repeats the tracks.",
    "The defaults describe a good road: 64e-6 m^3 (64 mm^2*m) at 0.1 cycle/m with the\n"
    "density falling as v^-2, so gs = 64 x 0.1^2 x (2 pi)^2 = 25.3 mm^2/m, and ge takes over\n"
    "below 0.28 m wavelength. ga adds long-wavelength undulation; any ga above 0 dominates\n"
    "the RMS, with wavelengths of kilometres.\n"
    "\n"
    "Road classes A to H have Gd(0.1) = 16, 64, 256, 1024, 4096, 16384, 65536 and 262144\n"
    "mm^2*m (10^-6 m^3); a fitted density belongs to the class whose centre is nearest on a\n"
    "logarithmic scale. --iri scales the spectrum chosen (by --class or the coefficients) so\n"
    "that the mean IRI of the tracks of that seed is the target within 1 %, prints the scale\n"
    "and the closed-form expectation of the index for the scaled spectrum, and writes the\n"
    "scaled tracks.\n"
    "\n"
    "Exit status: 0 written; 1 the host function failed (its message is printed), or a\n"
    "track's RMS, IRI or spectral density is beyond the range of a double; 64 bad command\n"
    "line (two outputs naming one file among them, an --iri for a profile that cannot be\n"
    "rated or is flat); 69 plug-in not loadable; 70 the command stopped (memory ran out); 73\n"
    "the CSV table or the plot could not be written, or the profile not read back. Nothing is\n"
    "written on any failure."};

// ---- ride ---------------------------------------------------------------

const std::vector<OptionSpec> ride_options = {
    {"road", "FILE",
     "the road: an RPC III file or CSV table as profile reads it, or class:C (class:C,iri:3.5) "
     "for two tracks left and right synthesised for the seed",
     "required"},
    {"speed", "KMH", "the vehicle's speed, km/h", "required", Kind::real, 0, unbounded, true},
    {"input", "NAME=TRACK@OFFSET",
     "the external input NAME follows the road's TRACK (its label or number) OFFSET metres "
     "behind the first axle; repeat for each input, those not named stay at 0",
     "required", Kind::text, 0, 0, false, 0, true},
    {"output", "INDEX[,INDEX...]", "the output rows (from 1) to report",
     "every node and wheel output (kind 3)"},
    {"duration", "S", "seconds to ride", "the road's length at the speed", Kind::real, 0, unbounded,
     true},
    {"rate", "HZ", "samples per second", "400", Kind::real, 0, 1e7, true},
    {"seed", "N", "seed of a synthesised road", "1", Kind::integer, 1, 2147483647.0},
    {"rpc", "OUT.rsp",
     "write the outputs as an RPC III file in time, one channel per output (DELTA_T in "
     "seconds)",
     ""},
    {"csv", "OUT.csv", "write the outputs as a table: time_s, then one column per output", ""},
    {"plot", "OUT.svg", "draw the spectral densities of the weighted accelerations", ""},
};

const CommandSpec ride_spec{
    "ride",
    "MAP_FILE ABC_BASE --road FILE --speed KMH --input NAME=TRACK@OFFSET ... "
    "[--output INDEX[,INDEX...]] [--duration S] [--rate HZ] [--rpc OUT.rsp] [--csv OUT.csv] "
    "[--plot OUT.svg] [--json]",
    2,
    2,
    "MAP_FILE and ABC_BASE",
    &ride_options,
    true,
    "Drives the model over a road at a speed and reports how it rides. Each --input maps an\n"
    "external input of the MAP file to a track of the road and an offset: the input at time\n"
    "t is the track's elevation at the distance speed x t - OFFSET (the first sample before\n"
    "the start), converted from the track's unit to the MAP file's length unit. The model is\n"
    "stepped exactly for inputs linear between the samples (first-order hold), in modal\n"
    "coordinates where A allows it, from the static equilibrium at the first sample.\n"
    "\n"
    "For each output: RMS, peak and crest factor in its unit; for a translation that is a\n"
    "displacement (kind 1, or a node or wheel row), the acceleration the model gives\n"
    "(d2/dt2 of C x + D u, from A, B, C and D), weighted for comfort (Wk vertical, Wd\n"
    "horizontal): its RMS, its vibration dose value and the comfort band the RMS falls\n"
    "into (below 0.315 m/s^2 not uncomfortable, 0.63 a little, 1 fairly, 1.6 uncomfortable,\n"
    "2.5 very uncomfortable, above that extremely uncomfortable).",
    "Exit status: 0 done; 64 bad command line (an input name the model lacks, a track the\n"
    "road lacks, an output out of range); 65 the road or the model refused (a track not in\n"
    "a length unit, a ride longer than the road, an unstable model, a figure beyond a\n"
    "double, no spectrum to draw for --plot); 66 an input file cannot be read; 69 the\n"
    "plug-in cannot be loaded (a synthesised road); 70 the command stopped (memory ran\n"
    "out); 73 an output not written.\n"
    "The outputs are written together: either all of them replace their files or none does."};

// ---- version and functions ----------------------------------------------

const std::vector<OptionSpec> no_options = {};

const CommandSpec version_spec{
    "version",
    "[--json] [--plugin PATH]",
    0,
    0,
    "no words",
    &no_options,
    true,
    "Loads the plug-in, prints its build banner (sorvan_view_version) and the values of its\n"
    "version entries. sorvan --version and sorvan -V say the same."};

const CommandSpec functions_spec{
    "functions",
    "[--plugin PATH]",
    0,
    0,
    "no words",
    &no_options,
    false,
    "Loads and initialises the plug-in, then lists the host functions it registered, in\n"
    "registration order, with the host's code and the number of 32-bit argument words of "
    "each."};

} // namespace

const CommandSpec &convert_command() {
    return convert_spec;
}

const CommandSpec &reduce_command() {
    return reduce_spec;
}

const CommandSpec &road_command() {
    return road_spec;
}

const CommandSpec &ride_command() {
    return ride_spec;
}

const CommandSpec &version_command() {
    return version_spec;
}

const CommandSpec &functions_command() {
    return functions_spec;
}

const std::vector<const CommandSpec *> &all_commands() {
    static const std::vector<const CommandSpec *> all = {
        &convert_spec,   &reduce_spec,     &road_spec,      &profile_command(), &ride_command(),
        &info_command(), &check_command(), &view_command(), &version_spec,      &functions_spec};
    return all;
}

} // namespace sorvan::cli
