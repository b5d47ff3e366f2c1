package brenquill.main.java.core.exceptions;

/** A failure reported by the native dive-computer library; the message is its only payload. */
public class NativeException extends Exception {
    private static final long serialVersionUID = 1L;

    public NativeException(String message) {
        super(message);
    }
}
