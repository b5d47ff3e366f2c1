package brenquill.main.java.tool;

import brenquill.main.java.core.exceptions.NativeException;
import java.io.IOException;
import java.io.PrintStream;
import java.util.List;

/** The {@code diveconnector} command-line tool. */
public final class Main {
    static final int EXIT_OK = 0;
    static final int EXIT_FAILURE = 1;
    static final int EXIT_USAGE = 2;
    // What a shell reports for a process that SIGINT ended.
    static final int EXIT_CANCELLED = 130;

    static final String NAME = "diveconnector";
    private static final String QUIET_PROPERTY = "diveconnector.quiet";
    private static final List<Command> COMMANDS =
        List.of(new ListCommand(), new ScanCommand(), new DownloadCommand(), new DumpCommand());

    private Main() {}

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
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
        if (arguments.help() || arguments.command().isEmpty()) {
            out.print(usage());
            return EXIT_OK;
        }
        int exitCode;
        try {
            exitCode = arguments.command().get().run(arguments, out, err);
            checkStandardOutput(out);
        } catch (UsageException e) {
            return misuse(err, e);
        } catch (CommandFailure e) {
            fail(err, arguments, e.getMessage(), e);
            return e.exitCode();
        } catch (NativeException | IOException e) {
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
            throw new IOException("cannot write the standard output");
        }
    }

    private static int misuse(PrintStream err, UsageException e) {
        err.println(NAME + ": " + e.getMessage());
        err.print(usage());
        return EXIT_USAGE;
    }

    private static int fail(PrintStream err, Arguments arguments, String message, Throwable e) {
        err.println(NAME + ": " + message);
        if (arguments.verbose()) {
            e.printStackTrace(err);
        }
        return EXIT_FAILURE;
    }

    private static String usage() {
        StringBuilder text = new StringBuilder();
        text.append("Usage: ").append(NAME).append(" [--verbose] COMMAND [OPTIONS]\n\n");
        text.append("Commands:\n");
        for (Command command : COMMANDS) {
            String synopsis = command.name() + command.operand().map(name -> " [" + name + "]")
                                                           .orElse("");
            text.append(String.format("  %-11s %s%n", synopsis, command.summary()));
            for (Option option : command.options()) {
                String name = option.isFlag() ? option.name()
                                              : option.name() + " " + option.valueName();
                // A long description continues on lines of its own, in the same column.
                for (String line : option.description().split("\n")) {
                    text.append(String.format("      %-16s %s%n", name, line));
                    name = "";
                }
            }
        }
        text.append(String.format("  %-11s %s%n", "help", "Print this help."));
        text.append("\nOptions:\n");
        text.append(String.format("  %-10s %s%n", "--verbose",
                                  "Show the library's own lines and the full trace of a failure."));
        text.append(String.format("  %-10s %s%n", "--help", "Print this help."));
        return text.toString();
    }
}
