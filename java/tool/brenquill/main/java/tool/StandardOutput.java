package brenquill.main.java.tool;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.FilterOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Optional;

/**
 * The standard output as a PrintStream that keeps the error a write met, so that the tool can
 * tell a reader that went away (a pipe into head) from a full disk.
 */
final class StandardOutput extends PrintStream {
    private final Recorder recorder;

    private StandardOutput(Recorder recorder, Charset charset) {
        super(recorder, true, charset);
        this.recorder = recorder;
    }

    static StandardOutput open() {
        String encoding = System.getProperty("stdout.encoding");
        Charset charset = encoding != null && Charset.isSupported(encoding)
                              ? Charset.forName(encoding) : Charset.defaultCharset();
        return new StandardOutput(new Recorder(new FileOutputStream(FileDescriptor.out)), charset);
    }

    /** The first error a write met, if any. */
    Optional<IOException> failure() {
        return Optional.ofNullable(recorder.failure);
    }

    /**
     * Whether the failure is that of a pipe whose reader has gone: the JVM ignores SIGPIPE, so the
     * write fails with EPIPE instead, "Broken pipe"; where /proc tells, any failed write into a
     * pipe (one cannot be full) counts, whatever language the message is in.
     */
    static boolean closedPipe(Throwable failure) {
        for (Throwable cause = failure; cause != null; cause = cause.getCause()) {
            if (cause instanceof IOException && "Broken pipe".equals(cause.getMessage())) {
                return true;
            }
        }
        try {
            return failure != null && Files.readSymbolicLink(Path.of("/proc/self/fd/1"))
                                          .toString().startsWith("pipe:");
        } catch (IOException | UnsupportedOperationException | SecurityException e) {
            return false;
        }
    }

    private static final class Recorder extends FilterOutputStream {
        private IOException failure;

        Recorder(OutputStream out) {
            super(out);
        }

        @Override
        public void write(byte[] bytes, int offset, int length) throws IOException {
            try {
                out.write(bytes, offset, length);
            } catch (IOException e) {
                failure = failure == null ? e : failure;
                throw e;
            }
        }

        @Override
        public void write(int b) throws IOException {
            write(new byte[] {(byte) b}, 0, 1);
        }
    }
}
