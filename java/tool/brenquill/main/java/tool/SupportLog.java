package brenquill.main.java.tool;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.List;
import java.util.Locale;
import java.util.Optional;

/**
 * The library's support log, {@code --log FILE [--loglevel L]}: every command that talks to a
 * dive computer takes it, and every failure of the library points at it.
 */
final class SupportLog {
    static final String LOG = "--log";
    private static final String LOG_LEVEL = "--loglevel";
    private static final List<String> LOG_LEVELS = List.of("error", "warning", "info", "debug",
                                                           "all");
    // The library's support log: its file, and how much goes into it.
    private static final String LOG_PROPERTY = "diveconnector.log";
    private static final String LOG_LEVEL_PROPERTY = "diveconnector.loglevel";

    private SupportLog() {}

    static List<Option> options() {
        return List.of(
            new Option(LOG, "FILE", "Append libdivecomputer's log and the library's reasons\n"
                                        + "for a failure to FILE, for a bug report."),
            new Option(LOG_LEVEL, "L", "How much goes to the log: " + String.join(", ", LOG_LEVELS)
                                           + "\n(default: info)."));
    }

    /** Checks the options and hands them to the library; before anything talks to a computer. */
    static void apply(Arguments arguments) throws UsageException, IOException {
        Optional<String> log = DownloadCommand.nonEmpty(arguments, LOG, "a file name");
        Optional<Path> logPath = DownloadCommand.path(LOG, log);
        Optional<String> logLevel = logLevel(arguments, log);
        if (log.isPresent()) {
            checkLog(logPath.get());
            System.setProperty(LOG_PROPERTY, log.get());
        }
        if (logLevel.isPresent()) {
            System.setProperty(LOG_LEVEL_PROPERTY, logLevel.get());
        }
    }

    /** The end of a library failure's message: where the details are, or how to get them. */
    static String pointer(Arguments arguments) {
        return arguments.value(LOG).filter(file -> !file.isEmpty())
            .map(file -> "(Details in " + file + ".)")
            .orElse("(Details: --log FILE.)");
    }

    /** The log level, checked here: the library would log an unknown one at info. */
    private static Optional<String> logLevel(Arguments arguments, Optional<String> log)
        throws UsageException {
        Optional<String> level = arguments.value(LOG_LEVEL);
        if (level.isEmpty()) {
            return level;
        }
        String name = level.get().toLowerCase(Locale.ROOT);
        if (!LOG_LEVELS.contains(name)) {
            throw new UsageException("unknown log level '" + level.get() + "'; the levels are "
                                     + String.join(", ", LOG_LEVELS.subList(0, 4)) + " or all");
        }
        if (log.isEmpty()) {
            throw new UsageException(LOG_LEVEL + " needs " + LOG + " FILE");
        }
        return Optional.of(name);
    }

    /**
     * The library drops a log it cannot open, so the tool tries it first: an existing file is
     * opened for appending, a missing one must be creatable. A missing file is not created here,
     * so that the library creates it with its own permissions.
     */
    private static void checkLog(Path file) throws IOException {
        try {
            if (Files.isDirectory(file)) {
                throw new IOException("it is a directory");
            }
            if (Files.exists(file)) {
                Files.newOutputStream(file, StandardOpenOption.WRITE, StandardOpenOption.APPEND)
                    .close();
            } else {
                Path directory = file.toAbsolutePath().getParent();
                Files.delete(Files.createTempFile(directory, ".diveconnector-", ".tmp"));
            }
        } catch (IOException e) {
            throw new IOException("cannot open the log " + file + ": " + FileErrors.reason(e),
                                  e);
        }
    }
}
