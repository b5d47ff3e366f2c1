package brenquill.main.java.tool;

/** A command failed in a way the user should read as it is, with the exit code it calls for. */
final class CommandFailure extends Exception {
    private static final long serialVersionUID = 1L;

    private final int exitCode;

    CommandFailure(String message, int exitCode, Throwable cause) {
        super(message, cause);
        this.exitCode = exitCode;
    }

    int exitCode() {
        return exitCode;
    }
}
