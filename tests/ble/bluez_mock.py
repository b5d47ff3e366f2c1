'''A mock BlueZ for python3-dbusmock: one adapter and BLE dive computers with a GATT serial
service, on the bus of DBUS_SYSTEM_BUS_ADDRESS.

    /usr/bin/python3 -m dbusmock --system -t tests/ble/bluez_mock.py -p PARAMETERS_JSON

PARAMETERS_JSON holds {"adapter": {"powered": bool, "present": bool, "refuse_filter": bool},
"second_adapter": {"powered": bool}, "dcsim": path of libdcsim, "devices": [DEVICE, ...]}. An
adapter with "refuse_filter" answers SetDiscoveryFilter with an error; "second_adapter" adds
hci1 (powered by default). Each DEVICE has an "address" and may set:
  "name"          the advertised name
  "known"         false: BlueZ learns of it only through discovery (default true)
  "nearby"        false: it does not advertise, so a discovery never sees it; a known one stays
                  in BlueZ's cache without an RSSI, an unknown one never appears (default true)
  "rssi"          the signal strength a discovery sees it with (default -60)
  "classic"       true: seen over classic Bluetooth, so it has a Class (and a public address)
  "adapter"       "hci1": the device is under the second adapter (default "hci0")
  "connected"     true: another program has connected it already, services resolved
  "refuse"        true: Connect fails
  "connect_fail"  the first this many Connects fail as BlueZ's do with a device that has just
                  woken up (org.bluez.Error.Failed "le-connection-abort-by-local")
  "connect_delay_ms"  Connect answers after this long (the mock goes on answering meanwhile)
  "notify_delay_ms"   StartNotify on the data characteristic answers after this long
  "service"       the service UUID (default Nordic UART); "none": no GATT service at all
  "write_flags"   of the write characteristic (default ["write", "write-without-response"])
  "gap_ms"        pause between two notifications of a reply (default 0: a burst)
  "peripheral"    "dcsim": the dcsim computer of that name answers (dcsim/BLE.md), with
                  "scenario" the path of its scenario file; "shearwater": an emulated real
                  Shearwater Perdix 2 with its own GATT service ("service" is then ignored;
                  its options are in shearwater_petrel.py); "script" (default): a test script
                  answers each write:
                    'S' count(2 bytes LE) size(1): `count` notifications of `size` bytes, byte j
                        of notification k being (k * 7 + j) & 0xFF
                    'X' the device disconnects
                    anything else: notified back unchanged
  "disconnect_after"  the device disconnects after this many notifications
  "extra"         {"uuid": ..., "value": [bytes]}: one more readable characteristic
  "terminal_io"   true: a Heinrichs Weikamp computer behind Telit's Terminal I/O service instead
                  ("service" is then ignored): data RX written by the client, data TX notified,
                  credits RX written with response, credits TX indicated. Each data notification
                  costs one credit the client granted on credits RX; without credits the data
                  waits, so a client that does not top up times out. Credits TX indicates
                  "host_credits" credits for the client when enabled (default 32) and one more
                  "host_credit_delay_ms" after each data write (default 0: at once); a data
                  write beyond them is an overrun, which a real module drops (the mock counts
                  it and takes the data all the same). The device answers
                  org.bluez.mock.TerminalIo.Credits() -> (ay grants, u sent, u waiting,
                  u overruns): every grant of this run, the data notifications sent, the ones
                  waiting for credits and the client's writes beyond its credits.
A write of type "command" to a characteristic without write-without-response fails, as in BlueZ.
As in BlueZ, a device has an RSSI only while a discovery runs and has seen it: 300 ms after
StartDiscovery the nearby devices get theirs (the unknown ones appear with it), and StopDiscovery
takes every RSSI away again.
'''

import ctypes
import os
import sys
import time

import dbus
import dbus.service
import dbusmock
from gi.repository import GLib

# The emulated real computers live beside this template.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import shearwater_petrel  # noqa: E402

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

ADAPTER = 'org.bluez.Adapter1'
DEVICE = 'org.bluez.Device1'
SERVICE = 'org.bluez.GattService1'
CHARACTERISTIC = 'org.bluez.GattCharacteristic1'
PROPERTIES = 'org.freedesktop.DBus.Properties'
ADAPTER_PATH = '/org/bluez/hci0'
SECOND_ADAPTER_PATH = '/org/bluez/hci1'
NORDIC_UART = '6e400001-b5a3-f393-e0a9-e50e24dcca9e'
TERMINAL_IO = '0000fefb-0000-1000-8000-00805f9b34fb'
TERMINAL_IO_MOCK = 'org.bluez.mock.TerminalIo'


def changed(obj, interface, properties, invalidated=()):
    obj.EmitSignal(PROPERTIES, 'PropertiesChanged', 'sa{sv}as',
                   [interface, properties, dbus.Array(invalidated, signature='s')])


class Dcsim:
    '''libdcsim's simulated BLE computers (dcsim_peripheral_*).'''

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        self.lib.dcsim_peripheral_new.restype = ctypes.c_void_p
        self.lib.dcsim_peripheral_new.argtypes = [ctypes.c_char_p]
        self.lib.dcsim_peripheral_write.argtypes = [ctypes.c_void_p, ctypes.c_char_p,
                                                    ctypes.c_size_t]
        self.lib.dcsim_peripheral_read.restype = ctypes.c_size_t
        self.lib.dcsim_peripheral_read.argtypes = [ctypes.c_void_p, ctypes.c_char_p,
                                                   ctypes.c_size_t]
        self.lib.dcsim_peripheral_free.argtypes = [ctypes.c_void_p]
        self.lib.dcsim_attach_file.argtypes = [ctypes.c_char_p]
        self.lib.dcsim_last_error.restype = ctypes.c_char_p

    def attach(self, scenario):
        if self.lib.dcsim_attach_file(scenario.encode()) != 0:
            raise RuntimeError(self.lib.dcsim_last_error().decode())

    def peripheral(self, name):
        handle = self.lib.dcsim_peripheral_new(name.encode())
        if not handle:
            raise RuntimeError(self.lib.dcsim_last_error().decode())
        return handle

    def answer(self, handle, data):
        self.lib.dcsim_peripheral_write(handle, bytes(data), len(data))
        packets = []
        buffer = ctypes.create_string_buffer(20)
        while True:
            size = self.lib.dcsim_peripheral_read(handle, buffer, 20)
            if size == 0:
                return packets
            packets.append(buffer.raw[:size])


def script_answer(data):
    if len(data) == 4 and data[0] == ord('S'):
        count = data[1] | data[2] << 8
        size = data[3]
        return [bytes((k * 7 + j) & 0xFF for j in range(size)) for k in range(count)]
    return [bytes(data)]


class Peripheral:
    def __init__(self, spec, path, dcsim):
        self.spec = spec
        self.path = path
        self.dcsim = dcsim
        self.handle = None
        self.computer = None
        self.sent = 0
        self.pending = []
        self.connected = False
        if spec.get('peripheral') == 'dcsim':
            dcsim.attach(spec['scenario'])
            self.handle = dcsim.peripheral(spec['name'])
        elif spec.get('peripheral') == 'shearwater':
            self.computer = shearwater_petrel.Computer(spec)

    def reconnected(self):
        '''A new connection starts unpaired, as with a real computer.'''
        if self.computer is not None:
            self.computer.reconnected()
        if self.handle is not None:
            self.dcsim.lib.dcsim_peripheral_free(self.handle)
            self.handle = self.dcsim.peripheral(self.spec['name'])

    def device(self):
        return dbusmock.get_object(self.path)

    def notify_object(self):
        return dbusmock.get_object(self.path + '/service0010/char0013')

    def disconnect(self):
        if self.connected:
            self.connected = False
            self.pending = []
            changed(self.device(), DEVICE, {'Connected': dbus.Boolean(False),
                                            'ServicesResolved': dbus.Boolean(False)})

    def write(self, data):
        if self.handle is not None:
            packets = self.dcsim.answer(self.handle, data)
        elif self.computer is not None:
            packets = self.computer.answer(data)
        elif len(data) == 1 and data[0] == ord('X'):
            GLib.idle_add(self.disconnect)
            return
        else:
            packets = script_answer(data)
        idle = not self.pending
        self.pending.extend(packets)
        # A paced sender already under way takes the new packets along.
        if idle or not self.spec.get('gap_ms', 0):
            self.start_sending()

    def start_sending(self):
        '''Sends what is pending: one packet every gap_ms when the device is paced, else all now.'''
        gap = self.spec.get('gap_ms', 0)
        if gap:
            GLib.timeout_add(gap, self.send_one)
        else:
            GLib.idle_add(self.send_all)

    def send(self, packet):
        limit = self.spec.get('disconnect_after')
        if not self.connected:
            return
        if limit is not None and self.sent >= limit:
            self.disconnect()
            return
        self.sent += 1
        changed(self.notify_object(), CHARACTERISTIC,
                {'Value': dbus.Array(packet, signature='y', variant_level=1)})

    def send_all(self):
        packets, self.pending = self.pending, []
        for packet in packets:
            self.send(packet)
        return False

    def send_one(self):
        if self.pending:
            self.send(self.pending.pop(0))
        return bool(self.pending) and self.connected


class TerminalIoPeripheral(Peripheral):
    '''A peripheral behind Terminal I/O: data is notified only while the client's credits last.'''

    def __init__(self, spec, path, dcsim):
        super().__init__(spec, path, dcsim)
        self.credits = 0
        self.grants = []
        self.host_credits = 0
        self.overruns = 0

    def reconnected(self):
        super().reconnected()
        self.credits = 0
        self.host_credits = 0

    def credits_object(self):
        return dbusmock.get_object(self.path + '/service0010/char0018')

    def indicate_credits(self, count):
        if self.connected:
            self.host_credits += count
            changed(self.credits_object(), CHARACTERISTIC,
                    {'Value': dbus.Array([count], signature='y', variant_level=1)})
        return False

    def write(self, data):
        if self.host_credits > 0:
            self.host_credits -= 1
        else:
            self.overruns += 1
        super().write(data)
        delay = self.spec.get('host_credit_delay_ms', 0)
        if delay:
            GLib.timeout_add(delay, self.indicate_credits, 1)
        else:
            self.indicate_credits(1)

    def grant(self, count):
        stalled = self.pending and self.credits == 0
        self.grants.append(count)
        self.credits += count
        if stalled and self.credits > 0:
            self.start_sending()

    def send_all(self):
        while self.pending and self.credits > 0:
            self.credits -= 1
            self.send(self.pending.pop(0))
        return False

    def send_one(self):
        if self.pending and self.credits > 0:
            self.credits -= 1
            self.send(self.pending.pop(0))
        return bool(self.pending) and self.connected and self.credits > 0


def add_slow_method(obj, interface, name, call):
    '''A method without arguments whose answer may come later: call(ok, err) answers through
    them, at once or from a timer, and the mock goes on answering meanwhile. Its calls are logged
    as AddMethod's are.'''
    def method(self, ok, err):
        self.call_log.append((int(time.time()), name, []))
        call(ok, err)
    dbus_method = dbus.service.method(interface, in_signature='', out_signature='',
                                      async_callbacks=('ok', 'err'))(method)
    obj.methods.setdefault(interface, {})[name] = ('', '', method, dbus_method)


def answer_after(delay_ms, answer):
    '''Runs answer() after delay_ms, or at once for 0.'''
    if delay_ms:
        GLib.timeout_add(delay_ms, lambda: answer() and False)
    else:
        answer()


def device_path(spec):
    return ('/org/bluez/' + spec.get('adapter', 'hci0') + '/dev_' +
            spec['address'].upper().replace(':', '_'))


def rssi(spec):
    return dbus.Int16(spec.get('rssi', -60))


def add_device(mock, peripheral, seen=False):
    spec = peripheral.spec
    path = peripheral.path
    connected = dbus.Boolean(bool(spec.get('connected')))
    peripheral.connected = bool(connected)
    properties = {
        'Address': dbus.String(spec['address'].upper()),
        'AddressType': dbus.String('public' if spec.get('classic') else 'random'),
        'Adapter': dbus.ObjectPath('/org/bluez/' + spec.get('adapter', 'hci0')),
        'Connected': connected,
        'ServicesResolved': connected,
        'Paired': dbus.Boolean(False),
        'UUIDs': dbus.Array([], signature='s'),
    }
    if seen:
        properties['RSSI'] = rssi(spec)
    if spec.get('classic'):
        properties['Class'] = dbus.UInt32(0x001F00)
    if 'name' in spec:
        properties['Name'] = dbus.String(spec['name'])
        properties['Alias'] = dbus.String(spec['name'])
    else:
        # BlueZ's stand-in for a missing name.
        properties['Alias'] = dbus.String(spec['address'].upper().replace(':', '-'))
    mock.AddObject(path, DEVICE, properties, [])
    device = dbusmock.get_object(path)

    failures = [spec.get('connect_fail', 0)]

    def connected():
        peripheral.reconnected()
        peripheral.connected = True
        device.props[DEVICE]['Connected'] = dbus.Boolean(True)
        changed(device, DEVICE, {'Connected': dbus.Boolean(True)})

        def resolved():
            if peripheral.connected:
                device.props[DEVICE]['ServicesResolved'] = dbus.Boolean(True)
                changed(device, DEVICE, {'ServicesResolved': dbus.Boolean(True)})
            return False
        GLib.timeout_add(50, resolved)

    def connect(ok, err):
        if spec.get('refuse'):
            err(dbus.exceptions.DBusException('Connection refused',
                                              name='org.bluez.Error.Failed'))
            return
        if failures[0] > 0:
            failures[0] -= 1
            err(dbus.exceptions.DBusException('le-connection-abort-by-local',
                                              name='org.bluez.Error.Failed'))
            return

        def answer():
            connected()
            ok()
        answer_after(spec.get('connect_delay_ms', 0), answer)

    def disconnect(self):
        self.props[DEVICE]['Connected'] = dbus.Boolean(False)
        self.props[DEVICE]['ServicesResolved'] = dbus.Boolean(False)
        peripheral.disconnect()

    add_slow_method(device, DEVICE, 'Connect', connect)
    device.AddMethod(DEVICE, 'Disconnect', '', '', disconnect)

    uuid = spec.get('service', NORDIC_UART)
    if spec.get('terminal_io'):
        add_terminal_io(mock, peripheral)
    elif spec.get('peripheral') == 'shearwater':
        shearwater_petrel.add_gatt(mock, peripheral, path + '/service0010')
    elif uuid != 'none':
        add_gatt(mock, peripheral, uuid)
    mock.object_manager_emit_added(path)


def add_gatt(mock, peripheral, uuid):
    spec = peripheral.spec
    service = peripheral.path + '/service0010'
    mock.AddObject(service, SERVICE, {
        'UUID': dbus.String(uuid), 'Primary': dbus.Boolean(True),
        'Device': dbus.ObjectPath(peripheral.path)}, [])
    write_flags = spec.get('write_flags', ['write', 'write-without-response'])
    mock.AddObject(service + '/char0011', CHARACTERISTIC, {
        'UUID': dbus.String(uuid[:4] + '0002' + uuid[8:]), 'Service': dbus.ObjectPath(service),
        'Flags': dbus.Array(write_flags, signature='s')}, [])
    writer = dbusmock.get_object(service + '/char0011')

    def write_value(self, value, options):
        kind = str(options.get('type', 'request'))
        if kind == 'command' and 'write-without-response' not in write_flags:
            raise dbus.exceptions.DBusException('Not supported', name='org.bluez.Error.NotSupported')
        if kind == 'request' and 'write' not in write_flags:
            raise dbus.exceptions.DBusException('Not supported', name='org.bluez.Error.NotSupported')
        if not peripheral.connected:
            raise dbus.exceptions.DBusException('Not connected', name='org.bluez.Error.NotConnected')
        peripheral.write(bytes(value))

    writer.AddMethod(CHARACTERISTIC, 'WriteValue', 'aya{sv}', '', write_value)
    mock.AddObject(service + '/char0013', CHARACTERISTIC, {
        'UUID': dbus.String(uuid[:4] + '0003' + uuid[8:]), 'Service': dbus.ObjectPath(service),
        'Flags': dbus.Array(['notify'], signature='s'), 'Notifying': dbus.Boolean(False)}, [])
    notifier = dbusmock.get_object(service + '/char0013')
    add_slow_method(notifier, CHARACTERISTIC, 'StartNotify',
                    lambda ok, err: answer_after(spec.get('notify_delay_ms', 0), ok))
    notifier.AddMethod(CHARACTERISTIC, 'StopNotify', '', '', lambda self: None)
    if 'extra' in spec:
        extra = spec['extra']
        mock.AddObject(service + '/char0015', CHARACTERISTIC, {
            'UUID': dbus.String(extra['uuid']), 'Service': dbus.ObjectPath(service),
            'Flags': dbus.Array(['read'], signature='s')}, [])
        value = bytes(extra['value'])
        dbusmock.get_object(service + '/char0015').AddMethod(
            CHARACTERISTIC, 'ReadValue', 'a{sv}', 'ay',
            lambda self, options: dbus.Array(value, signature='y'))


def add_terminal_io(mock, peripheral):
    service = peripheral.path + '/service0010'
    mock.AddObject(service, SERVICE, {
        'UUID': dbus.String(TERMINAL_IO), 'Primary': dbus.Boolean(True),
        'Device': dbus.ObjectPath(peripheral.path)}, [])

    def characteristic(name, number, flags):
        path = service + '/' + name
        properties = {
            'UUID': dbus.String('0000000%d-0000-1000-8000-008025000000' % number),
            'Service': dbus.ObjectPath(service), 'Flags': dbus.Array(flags, signature='s')}
        if 'notify' in flags or 'indicate' in flags:
            properties['Notifying'] = dbus.Boolean(False)
        mock.AddObject(path, CHARACTERISTIC, properties, [])
        return dbusmock.get_object(path)

    def connected_write(flags, value, options):
        kind = str(options.get('type', 'request'))
        if ((kind == 'command' and 'write-without-response' not in flags) or
                (kind == 'request' and 'write' not in flags)):
            raise dbus.exceptions.DBusException('Not supported', name='org.bluez.Error.NotSupported')
        if not peripheral.connected:
            raise dbus.exceptions.DBusException('Not connected', name='org.bluez.Error.NotConnected')
        return bytes(value)

    data_flags = ['write-without-response', 'write']

    def write_data(self, value, options):
        peripheral.write(connected_write(data_flags, value, options))

    characteristic('char0011', 1, data_flags).AddMethod(
        CHARACTERISTIC, 'WriteValue', 'aya{sv}', '', write_data)
    data_tx = characteristic('char0013', 2, ['notify'])
    data_tx.AddMethod(CHARACTERISTIC, 'StartNotify', '', '', lambda self: None)
    data_tx.AddMethod(CHARACTERISTIC, 'StopNotify', '', '', lambda self: None)

    def start_indications(self):
        GLib.idle_add(peripheral.indicate_credits, peripheral.spec.get('host_credits', 32))

    credits_tx = characteristic('char0018', 4, ['indicate'])
    credits_tx.AddMethod(CHARACTERISTIC, 'StartNotify', '', '', start_indications)
    credits_tx.AddMethod(CHARACTERISTIC, 'StopNotify', '', '', lambda self: None)

    credits_flags = ['write']

    def grant(self, value, options):
        granted = connected_write(credits_flags, value, options)
        if len(granted) != 1:
            raise dbus.exceptions.DBusException('Invalid length',
                                                name='org.bluez.Error.InvalidValueLength')
        peripheral.grant(granted[0])

    characteristic('char0016', 3, credits_flags).AddMethod(
        CHARACTERISTIC, 'WriteValue', 'aya{sv}', '', grant)
    dbusmock.get_object(peripheral.path).AddMethod(
        TERMINAL_IO_MOCK, 'Credits', '', 'ayuuu',
        lambda self: (dbus.Array(peripheral.grants, signature='y'), dbus.UInt32(peripheral.sent),
                      dbus.UInt32(len(peripheral.pending)), dbus.UInt32(peripheral.overruns)))


def load(mock, parameters):
    adapter = parameters.get('adapter', {})
    dcsim = Dcsim(parameters['dcsim']) if 'dcsim' in parameters else None
    if not adapter.get('present', True):
        return
    mock.AddObject(ADAPTER_PATH, ADAPTER, {
        'Address': dbus.String('00:AA:01:00:00:01'),
        'Name': dbus.String('mock'),
        'Powered': dbus.Boolean(adapter.get('powered', True)),
        'Discovering': dbus.Boolean(False)}, [])
    if 'second_adapter' in parameters:
        mock.AddObject(SECOND_ADAPTER_PATH, ADAPTER, {
            'Address': dbus.String('00:AA:01:00:00:02'),
            'Name': dbus.String('mock 2'),
            'Powered': dbus.Boolean(parameters['second_adapter'].get('powered', True)),
            'Discovering': dbus.Boolean(False)}, [])
    peripherals = [(TerminalIoPeripheral if spec.get('terminal_io') else Peripheral)(
                       spec, device_path(spec), dcsim)
                   for spec in parameters.get('devices', [])]
    known = []
    hidden = []
    for peripheral in peripherals:
        if peripheral.spec.get('known', True):
            add_device(mock, peripheral)
            known.append(peripheral)
        elif peripheral.spec.get('nearby', True):
            hidden.append(peripheral)
    controller = dbusmock.get_object(ADAPTER_PATH)

    def discovering(value):
        controller.props[ADAPTER]['Discovering'] = dbus.Boolean(value)
        changed(controller, ADAPTER, {'Discovering': dbus.Boolean(value)})

    def start_discovery(self):
        discovering(True)

        def found():
            if not controller.props[ADAPTER]['Discovering']:
                return False
            for peripheral in known:
                if peripheral.spec.get('nearby', True):
                    device = peripheral.device()
                    device.props[DEVICE]['RSSI'] = rssi(peripheral.spec)
                    changed(device, DEVICE, {'RSSI': rssi(peripheral.spec)})
            while hidden:
                peripheral = hidden.pop(0)
                add_device(mock, peripheral, seen=True)
                known.append(peripheral)
            return False
        GLib.timeout_add(300, found)

    def stop_discovery(self):
        discovering(False)
        for peripheral in known:
            device = peripheral.device()
            if device.props[DEVICE].pop('RSSI', None) is not None:
                changed(device, DEVICE, {}, ['RSSI'])

    def set_discovery_filter(self, discovery_filter):
        if adapter.get('refuse_filter'):
            raise dbus.exceptions.DBusException('Invalid arguments',
                                                name='org.bluez.Error.InvalidArguments')

    controller.AddMethod(ADAPTER, 'StartDiscovery', '', '', start_discovery)
    controller.AddMethod(ADAPTER, 'StopDiscovery', '', '', stop_discovery)
    controller.AddMethod(ADAPTER, 'SetDiscoveryFilter', 'a{sv}', '', set_discovery_filter)

