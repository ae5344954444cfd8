#include "cli/ToolOptions.h"

#include "records/RegisterNames.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace kvx::cli {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("kvx310", text);
}

std::optional<double> seconds(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    // A timer takes up to 2^31 ms.
    if (!ok || !(v >= 0) || v > 2'000'000)
        return std::nullopt;
    return v;
}

} // namespace

std::optional<ToolOptions> parseToolOptions(const QStringList &arguments, QString *error)
{
    QCommandLineParser p;
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("PORT"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption noAttach(QStringLiteral("no-attach"));
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption motor(QStringLiteral("motor"), {}, QStringLiteral("N"));
    const QCommandLineOption all(QStringLiteral("all"));
    const QCommandLineOption verify(QStringLiteral("verify"));
    const QCommandLineOption wait(QStringLiteral("wait"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption write(QStringLiteral("write"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), {}, QStringLiteral("S"));
    const QCommandLineOption duration(QStringLiteral("duration"), {}, QStringLiteral("S"));
    const QCommandLineOption sigma(QStringLiteral("sigma"), {}, QStringLiteral("S"));
    const QCommandLineOption mode(QStringLiteral("mode"), {}, QStringLiteral("MODE"));
    const QCommandLineOption target(QStringLiteral("target"), {}, QStringLiteral("X"));
    const QCommandLineOption vmin(QStringLiteral("vmin"), {}, QStringLiteral("V"));
    const QCommandLineOption vmax(QStringLiteral("vmax"), {}, QStringLiteral("V"));
    const QCommandLineOption amax(QStringLiteral("amax"), {}, QStringLiteral("A"));
    const QCommandLineOption rows(QStringLiteral("rows"), {}, QStringLiteral("NAMES"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    p.addOptions({port,   json,  quiet,   motor,    all,     verify,  wait,   force,
                  dryRun, write, timeout, duration, sigma,   mode,    target, vmin,
                  vmax,   amax,  rows,    help,     version, noAttach});
    if (!p.parse(arguments)) {
        *error = p.errorText();
        return std::nullopt;
    }
    ToolOptions o;
    o.words = p.positionalArguments();
    for (const QCommandLineOption *option :
         {&port,   &json,  &quiet,   &motor,    &all,     &verify,  &wait,   &force,
          &dryRun, &write, &timeout, &duration, &sigma,   &mode,    &target, &vmin,
          &vmax,   &amax,  &rows,    &help,     &version, &noAttach}) {
        if (p.isSet(*option))
            o.given << option->names().last();
    }
    o.port = p.value(port);
    // An unset variable in a script ("--port $PORT") must not become the default port.
    if (p.isSet(port) && o.port.trimmed().isEmpty()) {
        *error = tr("--port is empty; give COM1..COM9, a device or sim");
        return std::nullopt;
    }
    o.json = p.isSet(json);
    o.attach = !p.isSet(noAttach);
    o.quiet = p.isSet(quiet);
    o.all = p.isSet(all);
    o.verify = p.isSet(verify);
    o.wait = p.isSet(wait);
    o.force = p.isSet(force);
    o.dryRun = p.isSet(dryRun);
    o.write = p.isSet(write);
    o.help = p.isSet(help);
    o.version = p.isSet(version);
    if (p.isSet(motor)) {
        bool ok = false;
        o.motor = p.value(motor).toInt(&ok) - 1;
        if (!ok || o.motor < 0 || o.motor > 2) {
            *error = tr("--motor takes 1, 2 or 3");
            return std::nullopt;
        }
    }
    for (const auto &[option, into] :
         {std::pair{&timeout, &o.timeout}, std::pair{&duration, &o.duration}}) {
        if (!p.isSet(*option))
            continue;
        const std::optional<double> s = seconds(p.value(*option));
        if (!s) {
            *error = tr("--%1 takes a number of seconds").arg(option->names().first());
            return std::nullopt;
        }
        *into = *s;
    }
    if (p.isSet(sigma)) {
        bool ok = false;
        o.sigma = p.value(sigma).toDouble(&ok);
        if (!ok || !(*o.sigma >= -1 && *o.sigma <= 1)) {
            *error = tr("--sigma takes a number from -1 to 1");
            return std::nullopt;
        }
    }
    for (const auto &[option, into] : {std::pair{&target, &o.target}, std::pair{&vmin, &o.vMin},
                                       std::pair{&vmax, &o.vMax}, std::pair{&amax, &o.aMax}}) {
        if (!p.isSet(*option))
            continue;
        // As write takes a value: 0x10 is 16 here too.
        *into = parseNumber(p.value(*option));
        if (!*into) {
            *error = tr("--%1 takes a whole number (decimal, 0x.. or 0b..)")
                         .arg(option->names().first());
            return std::nullopt;
        }
    }
    if (p.isSet(mode))
        o.mode = p.value(mode).toUpper();
    if (p.isSet(rows))
        o.rows = p.value(rows).split(QLatin1Char(','), Qt::SkipEmptyParts);
    return o;
}

QString toolHelp()
{
    return tr(R"(kvx310 - the KVX310 evaluation board from the command line

USAGE
  kvx310 [--port PORT] [--no-attach] [--json] [--quiet] COMMAND [ARGUMENTS] [OPTIONS]

COMMANDS
  info
      Detects the board and tells its variant, its identification and how fast the
      line polls it.
  read NAME... [--motor N]
  read --all [--motor N]
      Reads registers and fields as the windows show them: signed where the field
      is, RAMP_MODE by name, flag sets as bits. NAME is a register (X_ACTUAL), a
      field (P_MUL, RAMP_MODE), REGISTER.FIELD (REF_CONF.RAMP_MODE) or a register
      of several fields by its whole name (REFERENCE_SWITCHES). Motor registers
      are read for every motor unless --motor says which.
  write NAME=VALUE... [--motor N | --all] [--verify]
      Writes values, each checked against its range first: nothing is written
      when one is out of range. A field is written into its register as the
      board holds it. --verify reads every register written back. A write whose
      answer did not come may have reached the board: the error says which.
  go --motor N [--mode RAMP|SOFTMODE|VELOCITY|HOLD] --target T
     [--vmin V] [--vmax V] [--amax A] [--wait] [--timeout S] [--force]
      Starts a motor as the main window's Go does. T is the target position
      (RAMP, SOFTMODE), the target velocity (VELOCITY) or the velocity (HOLD).
      V_MIN, V_MAX and A_MAX not given are taken from the board. --force goes on
      with an A_MAX below what the dividers allow. In VELOCITY mode V_MAX is the
      target's size and V_MIN is not used; HOLD uses neither, nor A_MAX. --wait
      returns once the target is reached, or fails after --timeout seconds (60).
  stop [--motor N | --all]
      Stops one motor, or all of them, as the main window's Stop does.
  ram read [FILE]
  ram write FILE
  ram shape --sigma S [--write]
      The RAM page's commands: the 128 bytes read (to FILE, or printed), written
      from a file of the RAM page's format, or the microstep wave shape for
      Sigma S (-1 triangle, 0 sine, 1 trapezoid) printed, or written to RAM.
  snapshot save FILE
  snapshot diff FILE
  snapshot restore FILE [--dry-run] [--force]
      Every setting of every motor, of the common registers and the RAM, in one
      text file that may be edited. diff lists what the board holds differently;
      restore writes that, configuration first and each motor's motion last, and
      lists what it changed (with --dry-run, what it would change). A value
      outside the register editor's range is restored only where the file says
      the board held it ("# held:"), and a motor is not set moving with an A_MAX
      below what its dividers allow, unless --force; diff marks the first.
  record FILE.csv [--duration S] [--rows NAMES] [--motor N]
      Records the poll cycle's live values, one line per cycle: time in seconds,
      status byte, then X_ACTUAL, V_TARGET, V_ACTUAL and A_ACTUAL of each motor
      (--rows X_ACTUAL,V_ACTUAL for fewer). Runs until the duration ends or
      Ctrl+C; the file is written out every second, in whole lines. FILE "-" is
      the standard output; a device, a pipe or a folder is refused.

OPTIONS
  --port PORT  COM1..COM9 (as the settings file's [Ports] maps them), a device
               such as /dev/ttyUSB0, or sim, sim:korve, sim:pentar for a simulated
               board of this process. Default: the port the program used last.
               When an Eval310 window holds the port, the commands go through
               it and show in its traffic view.
  --no-attach  Open the port even when a window holds it (a simulated board
               of its own; a device a window holds is refused).
  --json       Machine-readable output.
  --quiet, -q  Values only, no progress.
  --help, -h   This text.   --version   The version.
  Any other option is refused by a command that does not take it.

EXIT STATUS
  0 done; 1 the board did not answer or said no, or the port was lost;
  2 the command line is wrong (an option the command does not take among it),
  or a file cannot be read or written; 3 the port could not be opened.
  Every error is one line on the standard error.

EXAMPLE
  board=$XDG_RUNTIME_DIR/kvx-board
  kvx310-sim --link "$board" &
  kvx310 --port "$board" info
  kvx310 --port "$board" write --motor 1 V_MAX=200 A_MAX=100
  kvx310 --port "$board" go --motor 1 --target 5000 --wait
  kvx310 --port "$board" --quiet read X_ACTUAL --motor 1
)");
}

} // namespace kvx::cli
