package brenquill.main.java.tool;

/** The command line cannot be understood; the tool prints the message and its usage. */
final class UsageException extends Exception {
    private static final long serialVersionUID = 1L;

    UsageException(String message) {
        super(message);
    }
}
