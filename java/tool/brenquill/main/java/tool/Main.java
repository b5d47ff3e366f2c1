package brenquill.main.java.tool;

import brenquill.main.java.core.DeviceConnector;
import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.PrintStream;
import java.util.List;
import java.util.Optional;

/** The {@code diveconnector} command-line tool. */
public final class Main {
    static final int EXIT_OK = 0;
    static final int EXIT_FAILURE = 1;
    static final int EXIT_USAGE = 2;
    // What a shell reports for a process that SIGINT ended.
    static final int EXIT_CANCELLED = 130;
    // What a shell reports for a process that SIGPIPE ended, as it ends a C tool whose reader
    // went away (`| head`). The JVM ignores SIGPIPE, so the tool exits with that status itself.
    static final int EXIT_CLOSED_PIPE = 141;

    static final String NAME = "diveconnector";
    private static final String QUIET_PROPERTY = "diveconnector.quiet";
    // Set by the launcher: the version of this build.
    private static final String VERSION_PROPERTY = "diveconnector.version";
    private static final String STANDARD_OUTPUT_FAILURE = "cannot write the standard output";
    private static final List<Command> COMMANDS =
        List.of(new ListCommand(), new ScanCommand(), new DownloadCommand(), new DumpCommand());

    private Main() {}

    public static void main(String[] args) {
        System.exit(run(args, StandardOutput.open(), System.err));
    }

    static int run(String[] args, PrintStream out, PrintStream err) {
        Arguments arguments;
        try {
            arguments = Arguments.parse(args, COMMANDS);
        } catch (UsageException e) {
            return misuse(err, e);
        }
        // A diver at a terminal wants the dives, not the library's lines for applications.
        if (!arguments.verbose()) {
            System.setProperty(QUIET_PROPERTY, "true");
        }
        int exitCode;
        try {
            if (arguments.help() || arguments.version()) {
                out.print(arguments.version() ? version()
                              : arguments.command().map(Help::of).orElse(Help.of(COMMANDS)));
                checkStandardOutput(out);
                return EXIT_OK;
            }
            if (arguments.command().isEmpty()) {
                err.print(Help.of(COMMANDS));
                return EXIT_USAGE;
            }
            exitCode = arguments.command().get().run(arguments, out, err);
            checkStandardOutput(out);
        } catch (UsageException e) {
            return misuse(err, e.command().isPresent() ? e : new UsageException(
                                                                 e.getMessage(),
                                                                 arguments.command().orElse(null)));
        } catch (CommandFailure e) {
            fail(err, arguments, e.getMessage(), e);
            return e.exitCode();
        } catch (IOException e) {
            if (String.valueOf(e.getMessage()).startsWith(STANDARD_OUTPUT_FAILURE)
                && StandardOutput.closedPipe(e.getCause())) {
                // Whoever read the output has all it wanted: end as quietly as `yes | head`.
                return EXIT_CLOSED_PIPE;
            }
            return fail(err, arguments, e.getMessage(), e);
        } catch (NativeException e) {
            return fail(err, arguments, e.getMessage(), e);
        } catch (UnsatisfiedLinkError e) {
            return fail(err, arguments, "cannot load the native library: " + e.getMessage(), e);
        } catch (RuntimeException | LinkageError e) {
            return fail(err, arguments, e.toString(), e);
        }
        return exitCode;
    }

    /** A PrintStream keeps its write errors to itself; a full disk must not pass for success. */
    static void checkStandardOutput(PrintStream out) throws IOException {
        if (out.checkError()) {
            throw new IOException(STANDARD_OUTPUT_FAILURE,
                                  out instanceof StandardOutput standard
                                      ? standard.failure().orElse(null) : null);
        }
    }

    /** One line: what cannot be understood, and where the help is. */
    private static int misuse(PrintStream err, UsageException e) {
        err.println(NAME + ": " + e.getMessage() + "; see '" + NAME
                    + e.command().map(command -> " " + command.name()).orElse("") + " --help'");
        return EXIT_USAGE;
    }

    private static int fail(PrintStream err, Arguments arguments, String message, Throwable e) {
        err.println(NAME + ": " + message);
        if (arguments.verbose()) {
            e.printStackTrace(err);
        }
        return EXIT_FAILURE;
    }

    /** The version of this build, when the launcher gives it. */
    static Optional<String> toolVersion() {
        return Optional.ofNullable(System.getProperty(VERSION_PROPERTY));
    }

    /** The tool's version, the libdivecomputer it runs on, and whether that is dcsim. */
    private static String version() {
        String library = DeviceConnector.getLibdivecomputerVersion();
        return NAME + " " + toolVersion().orElse("(version unknown)") + "\n"
            + "libdivecomputer " + library
            + (ComputerOptions.simulated() ? " simulated by dcsim: this build reaches simulated "
                                                 + "dive computers only\n"
                                           : "\n");
    }
}
