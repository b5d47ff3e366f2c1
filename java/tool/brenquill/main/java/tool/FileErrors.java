package brenquill.main.java.tool;

import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.NoSuchFileException;

/** What went wrong with a file, in words: file-system exceptions carry little more than a path. */
final class FileErrors {
    private FileErrors() {}

    /** The failure to write the file, with the reason in words and the cause kept. */
    static IOException cannotWrite(String file, IOException e) {
        return new IOException("cannot write " + file + ": " + reason(e), e);
    }

    static String reason(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "no such file or directory";
        }
        if (e instanceof AccessDeniedException) {
            return "permission denied";
        }
        if (e instanceof FileAlreadyExistsException) {
            return "a file of that name is in the way";
        }
        if (e instanceof FileSystemException fileSystem && fileSystem.getReason() != null) {
            return fileSystem.getReason();
        }
        return String.valueOf(e.getMessage());
    }
}
