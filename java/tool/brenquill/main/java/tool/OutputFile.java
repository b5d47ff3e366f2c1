package brenquill.main.java.tool;

import java.io.BufferedWriter;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.FilterOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.security.SecureRandom;

/**
 * A file the tool writes, replaced whole or not at all. Created before the download, so a target
 * that cannot be written fails at once; written and committed after it:
 *
 * <pre>
 *   OutputFile file = OutputFile.replacing(path);   // fails now if the directory refuses it
 *   try (Writer writer = file.writer()) { ... }
 *   file.commit();                                  // or file.discard() on any failure
 * </pre>
 *
 * <p>A regular file is written under a temporary name in its own directory and renamed over the
 * target when complete, so the previous file stays until the new one is whole. A device or pipe
 * (such as /dev/stdout) cannot be replaced and is written directly, opened up front; so is the
 * standard output.
 */
final class OutputFile {
    private static final SecureRandom RANDOM = new SecureRandom();
    private static final int NAME_ATTEMPTS = 100;

    private final String name;
    private final Path target;
    private final Path temporary;
    private final OutputStream direct;

    private OutputFile(String name, Path target, Path temporary, OutputStream direct) {
        this.name = name;
        this.target = target;
        this.temporary = temporary;
        this.direct = direct;
    }

    static OutputFile replacing(Path target) throws IOException {
        if (Files.isDirectory(target)) {
            throw new IOException("cannot write " + target + ": it is a directory");
        }
        if (Files.exists(target) && !Files.isRegularFile(target)) {
            return new OutputFile(target.toString(), target, null,
                                  Files.newOutputStream(target, StandardOpenOption.WRITE));
        }
        // A link to a file is kept: the file it leads to is replaced.
        Path file = Files.isSymbolicLink(target) && Files.exists(target) ? target.toRealPath()
                                                                         : target;
        if (Files.exists(file)) {
            refuseProtected(target, file);
        }
        Path directory = file.toAbsolutePath().getParent();
        if (!Files.isDirectory(directory)) {
            throw new IOException("cannot write " + target + ": no directory " + directory);
        }
        return new OutputFile(target.toString(), file, createTemporary(directory, target), null);
    }

    /**
     * Renaming over a file needs no right to the file itself, so a file the diver protected would
     * be replaced without a word: refused as cp refuses it. The mode is read, not the access the
     * process has, so that a root user also keeps a file without its owner's write bit.
     */
    private static void refuseProtected(Path target, Path file) throws IOException {
        PosixFileAttributeView posix = Files.getFileAttributeView(file,
                                                                  PosixFileAttributeView.class);
        boolean readOnly = posix != null
            ? !posix.readAttributes().permissions().contains(PosixFilePermission.OWNER_WRITE)
            : !Files.isWritable(file);
        if (readOnly) {
            throw new IOException("cannot write " + target + ": it is read-only");
        }
        if (!Files.isWritable(file)) {
            throw new IOException("cannot write " + target + ": permission denied");
        }
    }

    /** Creates and removes a file in the directory: fails unless files can be written there. */
    static void probe(Path directory) throws IOException {
        Files.delete(createTemporary(directory, directory));
    }

    /**
     * The process's standard output, written through its file descriptor so that a failure
     * carries the system's reason; it is flushed but never closed.
     */
    static OutputFile standardOutput() {
        return new OutputFile("the standard output", null, null,
                              new FilterOutputStream(new FileOutputStream(FileDescriptor.out)) {
                                  @Override
                                  public void write(byte[] bytes, int offset, int length)
                                      throws IOException {
                                      out.write(bytes, offset, length);
                                  }

                                  @Override
                                  public void close() throws IOException {
                                      flush();
                                  }
                              });
    }

    /**
     * A new empty file in the directory: created with the permissions any new file of the user
     * gets, unlike Files.createTempFile, whose owner-only file would become the target.
     */
    private static Path createTemporary(Path directory, Path target) throws IOException {
        for (int attempt = 0;; attempt++) {
            Path file = directory.resolve(".diveconnector-" + Long.toHexString(RANDOM.nextLong())
                                          + ".tmp");
            try {
                return Files.createFile(file);
            } catch (FileAlreadyExistsException e) {
                if (attempt == NAME_ATTEMPTS) {
                    throw e;
                }
            } catch (IOException e) {
                throw FileErrors.cannotWrite(target.toString(), e);
            }
        }
    }

    /** The target as the user named it, for messages. */
    String name() {
        return name;
    }

    /** The contents, in UTF-8; closing the writer flushes them but does not yet commit them. */
    Writer writer() throws IOException {
        return new BufferedWriter(new OutputStreamWriter(stream(), StandardCharsets.UTF_8));
    }

    /** The contents as bytes; closing the stream does not yet commit them. */
    OutputStream stream() throws IOException {
        if (direct != null) {
            return direct;
        }
        return Files.newOutputStream(temporary, StandardOpenOption.WRITE,
                                     StandardOpenOption.TRUNCATE_EXISTING);
    }

    /** Puts the complete contents in the target's place. */
    void commit() throws IOException {
        if (temporary == null) {
            return;
        }
        try {
            Files.move(temporary, target, StandardCopyOption.ATOMIC_MOVE);
        } catch (AtomicMoveNotSupportedException e) {
            Files.move(temporary, target, StandardCopyOption.REPLACE_EXISTING);
        }
    }

    /** Drops the contents, leaving the target as it was; never fails. */
    void discard() {
        try {
            if (temporary != null) {
                Files.deleteIfExists(temporary);
            } else if (target != null) {
                direct.close();
            }
        } catch (IOException e) {
            // Nothing more can be done for a file that cannot be removed or closed.
        }
    }
}
