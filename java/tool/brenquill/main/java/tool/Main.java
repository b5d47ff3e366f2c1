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

    private static final String NAME = "diveconnector";
    private static final List<Command> COMMANDS = List.of(new ListCommand(), new DownloadCommand());

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
        if (arguments.help() || arguments.command().isEmpty()) {
            out.print(usage());
            return EXIT_OK;
        }
        try {
            return arguments.command().get().run(arguments, out);
        } catch (UsageException e) {
            return misuse(err, e);
        } catch (NativeException | IOException e) {
            return fail(err, arguments, e.getMessage(), e);
        } catch (UnsatisfiedLinkError e) {
            return fail(err, arguments, "cannot load the native library: " + e.getMessage(), e);
        } catch (RuntimeException | LinkageError e) {
            return fail(err, arguments, e.toString(), e);
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
            text.append(String.format("  %-9s %s%n", command.name(), command.summary()));
            for (Option option : command.options()) {
                String name = option.name() + " " + option.valueName();
                // A long description continues on lines of its own, in the same column.
                for (String line : option.description().split("\n")) {
                    text.append(String.format("      %-16s %s%n", name, line));
                    name = "";
                }
            }
        }
        text.append(String.format("  %-9s %s%n", "help", "Print this help."));
        text.append("\nOptions:\n");
        text.append(String.format("  %-10s %s%n", "--verbose", "Show the full trace of a failure."));
        text.append(String.format("  %-10s %s%n", "--help", "Print this help."));
        return text.toString();
    }
}
