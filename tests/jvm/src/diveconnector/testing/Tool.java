package diveconnector.testing;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/** The diveconnector tool through its launcher, in a child whose JVM checks every JNI call. */
final class Tool {
    /** The environment that has the tool's JVM run under -Xcheck:jni. */
    static final Map<String, String> JNI_CHECKS = Map.of("JDK_JAVA_OPTIONS", "-Xcheck:jni");
    /** What the java launcher prints to standard error about that environment. */
    static final String JAVA_OPTIONS_NOTE = "NOTE: Picked up JDK_JAVA_OPTIONS:";

    private Tool() {}

    static List<String> command(String... arguments) {
        List<String> command = new ArrayList<>();
        command.add(TestEnvironment.path("diveconnector.launcher").toString());
        command.addAll(List.of(arguments));
        return command;
    }

    static ChildProcess run(String... arguments) throws Exception {
        return ChildProcess.run(command(arguments), JNI_CHECKS);
    }
}
