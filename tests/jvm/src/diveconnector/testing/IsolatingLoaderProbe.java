package diveconnector.testing;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Collections;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CyclicBarrier;

/**
 * Main class of the child JVMs of {@link IsolatingLoaderTest}: loads the application's classes
 * (and so the library) through a loader that asks its parent only for java.*, then downloads.
 * Arguments: the application jar and {@code sequential} (three downloads in a row from the
 * built-in computer), {@code racing} (the JVM's first two downloads at once, from two computers)
 * or {@code details} followed by the library's jar (one download from the built-in computer into
 * {@link IsolatedDetailsConnector}, defined by the same loader, then a {@code details} line with
 * the details it received; without the library's jar the loader sees no details classes, and
 * there is no such line).
 * Prints one {@code download} line per download: its name, the dives the set received (or the
 * exception and its message), then a {@code live} line with the live dcsim handles. It names none
 * of the application's classes, which this JVM's own class path does not hold.
 */
public final class IsolatingLoaderProbe {
    public static final int SEQUENTIAL_DOWNLOADS = 3;
    public static final int BUILTIN_DIVES = 20;
    public static final int RACING_DIVES = 6;
    public static final List<String> RACING_PORTS = List.of("sim:first", "sim:second");

    private IsolatingLoaderProbe() {}

    /** Defines every class itself but java.*, as OSGi bundles, JBoss Modules or plugin loaders do. */
    private static final class IsolatingLoader extends URLClassLoader {
        static {
            registerAsParallelCapable();
        }

        IsolatingLoader(URL... classPath) {
            super(classPath, ClassLoader.getPlatformClassLoader());
        }

        @Override
        protected Class<?> loadClass(String name, boolean resolve) throws ClassNotFoundException {
            if (name.startsWith("java.")) {
                return super.loadClass(name, resolve);
            }
            synchronized (getClassLoadingLock(name)) {
                Class<?> loaded = findLoadedClass(name);
                if (loaded == null) {
                    loaded = findClass(name);
                }
                if (resolve) {
                    resolveClass(loaded);
                }
                return loaded;
            }
        }
    }

    private static String download(Object connector, Method load, String port) {
        Set<Object> dives = Collections.newSetFromMap(new IdentityHashMap<>());
        try {
            load.invoke(connector, port, Downloads.VENDOR, Downloads.PRODUCT, dives);
            return "download\t" + port + "\t" + dives.size();
        } catch (InvocationTargetException e) {
            Throwable thrown = e.getCause();
            return "download\t" + port + "\t" + thrown.getClass().getName() + ": "
                + thrown.getMessage();
        } catch (IllegalAccessException e) {
            throw new IllegalStateException(e);
        }
    }

    private static Class<?> isolatedClass(IsolatingLoader loader, String name)
        throws ClassNotFoundException {
        Class<?> loaded = Class.forName(name, true, loader);
        if (loaded.getClassLoader() != loader) {
            throw new IllegalStateException(name + " came from another loader");
        }
        return loaded;
    }

    private static Method loadMethod(Class<?> connectorClass) throws NoSuchMethodException {
        return connectorClass.getMethod("loadUserDivesFromDevice", String.class, String.class,
                                        String.class, Set.class);
    }

    /** Without {@code libraryJar} the loader sees no details classes. */
    private static void details(String applicationJar, String libraryJar) throws Exception {
        List<URL> classPath = new ArrayList<>();
        classPath.add(Paths.get(applicationJar).toUri().toURL());
        if (libraryJar != null) {
            classPath.add(Paths.get(libraryJar).toUri().toURL());
        }
        classPath.add(
            IsolatingLoaderProbe.class.getProtectionDomain().getCodeSource().getLocation());
        try (IsolatingLoader loader = new IsolatingLoader(classPath.toArray(new URL[0]))) {
            Class<?> connectorClass =
                isolatedClass(loader, "diveconnector.testing.IsolatedDetailsConnector");
            Object connector = connectorClass.getConstructor().newInstance();
            // Reflection on the connector's own class would resolve DiveDetails; JNI does not.
            Method load = loadMethod(connectorClass.getSuperclass());
            System.out.println(download(connector, load, "dcsim:builtin"));
            if (libraryJar != null) {
                System.out.println(
                    "details\t" + connectorClass.getMethod("detailsReceived").invoke(connector));
            }
        }
    }

    public static void main(String[] args) throws Exception {
        DcSim.reset();
        if (args[1].equals("details")) {
            details(args[0], args.length > 2 ? args[2] : null);
            System.out.println("live\t" + DcSim.liveTotal());
            return;
        }
        try (IsolatingLoader loader = new IsolatingLoader(Paths.get(args[0]).toUri().toURL())) {
            Class<?> connectorClass =
                isolatedClass(loader, "brenquill.main.java.core.DeviceConnector");
            Object connector = connectorClass.getConstructor().newInstance();
            Method load = loadMethod(connectorClass);
            if (args[1].equals("sequential")) {
                for (int i = 0; i < SEQUENTIAL_DOWNLOADS; i++) {
                    System.out.println(download(connector, load, "dcsim:builtin"));
                }
            } else {
                for (String port : RACING_PORTS) {
                    DcSim.attach("serial " + port + "\nevents none\ngenerate " + RACING_DIVES
                                 + " samples=30\n");
                }
                CyclicBarrier start = new CyclicBarrier(RACING_PORTS.size());
                String[] results = new String[RACING_PORTS.size()];
                Thread[] threads = new Thread[RACING_PORTS.size()];
                for (int i = 0; i < threads.length; i++) {
                    int index = i;
                    threads[i] = new Thread(() -> {
                        try {
                            start.await();
                        } catch (Exception e) {
                            throw new IllegalStateException(e);
                        }
                        results[index] = download(connector, load, RACING_PORTS.get(index));
                    });
                    threads[i].start();
                }
                for (Thread thread : threads) {
                    thread.join();
                }
                for (String result : results) {
                    System.out.println(result);
                }
            }
        }
        System.out.println("live\t" + DcSim.liveTotal());
    }
}
