package brenquill.main.java.tool;

import java.util.Optional;

/**
 * The command line cannot be understood; the tool prints the message and where its help is, the
 * help of the command when it is known.
 */
final class UsageException extends Exception {
    private static final long serialVersionUID = 1L;

    private final transient Command command;

    UsageException(String message, Command command) {
        super(message);
        this.command = command;
    }

    UsageException(String message) {
        this(message, null);
    }

    Optional<Command> command() {
        return Optional.ofNullable(command);
    }
}
