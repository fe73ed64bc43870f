"""Fixture data the simulated agent answers with: one phone's worth of lists and values."""

APPS = [
    # Size (u32), Location (u16), Name, packName, ver, verCode, time (u64, ms since 1970)
    dict(Size=4404019, Location=0, Name="Maps", packName="com.example.maps", ver="10.2.1",
         verCode="1021", time=1577836800000),
    dict(Size=1048576, Location=1, Name="Notes", packName="org.example.notes", ver="2.0",
         verCode="20", time=1609459200000),
    dict(Size=73400320, Location=0, Name="Video Player", packName="com.example.player",
         ver="5.4.3-beta", verCode="5403", time=1640995200000),
    dict(Size=0, Location=1, Name="空白", packName="cn.example.blank", ver="", verCode="0", time=0),
]

CONTACTS = [
    # ID, Name, Number (all strings)
    dict(ID="1", Name="Ann Example", Number="+1 555 0100"),
    dict(ID="2", Name="Bernd Beispiel", Number="0301234567"),
    dict(ID="3", Name="张伟", Number="13800138000"),
    dict(ID="4", Name="", Number=""),
    dict(ID="5", Name="Quote \" and \\ backslash", Number="*31#"),
]

MESSAGES = [
    # Number, Content, Date, Type (u16), ID (u32), ThreadID (u32), Read (u16)
    dict(Number="+15550100", Content="See you at 8", Date="1609459200000", Type=1, ID=11, ThreadID=3,
         Read=1),
    dict(Number="10086", Content="余额提醒：您的账户余额为 12.50 元", Date="1612137600000", Type=1, ID=12,
         ThreadID=4, Read=0),
    dict(Number="+15550100", Content="", Date="1612224000000", Type=2, ID=13, ThreadID=3, Read=1),
]

MUSIC = [
    # ID (u32), Zhuanji, Singer, Path, Timer (u32), Size (u64), IsRing (u16)
    dict(ID=21, Zhuanji="Greatest", Singer="The Band", Path="/sdcard/Music/one.mp3", Timer=215000,
         Size=5242880, IsRing=0),
    dict(ID=22, Zhuanji="", Singer="", Path="/system/media/audio/ringtones/ring.ogg", Timer=4000,
         Size=65536, IsRing=1),
]

VIDEOS = [
    # ID (u32), FilePath, Timer (u32), Size (u64)
    dict(ID=31, FilePath="/sdcard/DCIM/Camera/VID_0001.mp4", Timer=61000, Size=5368709120),
    dict(ID=32, FilePath="/sdcard/Movies/clip.3gp", Timer=1500, Size=300000),
]

PICTURES = [
    # ID (u32), FilePath, Size (u64)
    dict(ID=41, FilePath="/sdcard/DCIM/Camera/IMG_0001.jpg", Size=3145728),
    dict(ID=42, FilePath="/sdcard/Pictures/Screenshots/s.png", Size=204800),
]

FILES = [
    # FilePath, Size (u64), Location (u16)  (code 7)
    dict(FilePath="/sdcard/Download/setup.apk", Size=10485760, Location=0),
    dict(FilePath="/storage/0000-0000/book.pdf", Size=2097152, Location=1),
]

TYPED_FILES = [
    # FilePath, Type (u16), Size (u64)  (code 16)
    dict(FilePath="/sdcard/Download", Type=1, Size=0),
    dict(FilePath="/sdcard/notes.txt", Type=0, Size=1234),
]

PATHS = [
    # FilePath, Type (u8)  (codes 99, 108, 109, 110, 113)
    dict(FilePath="/sdcard/DCIM", Type=1),
    dict(FilePath="/sdcard/DCIM/a.jpg", Type=0),
]

DIRS = [
    # Type (u8), FileDir, FilePath  (code 111); the end frame carries TOTAL
    dict(Type=0, FileDir="/sdcard/DCIM", FilePath="/sdcard/DCIM/a.jpg"),
    dict(Type=1, FileDir="/sdcard", FilePath="/sdcard/DCIM"),
]
DIRS_TOTAL = 3221225472

SMS_RESULTS = [
    # code 50: Number; with status 1 followed by Content, Date, Type, ID, ThreadID, Read
    dict(Number="+15550100", Content="On my way", Date="1612310400000", Type=2, ID=14, ThreadID=3,
         Read=1),
]

VALUE_38 = 87
STORAGE_40 = dict(A=1, B=2, C=3, D=64000000000, E=32000000000, F=16000000000, G=8000000000,
                  S1="/sdcard", S2="/storage/0000-0000", H=4, I=5, J=6, K=7)
RESULT = 1          # codes 69, 71, 73, 76, 78
NUMBER_114 = "4096"

PROGRESS_53 = [("/sdcard/a.jpg", "C:\\backup\\a.jpg", "1/2"), ("/sdcard/b.jpg", "C:\\backup\\b.jpg", "2/2")]
PROGRESS_54 = ["step one", "step two"]
PROGRESS_80 = [("/sdcard/x.bin", 50), ("/sdcard/x.bin", 100)]

NOTIFICATIONS = {
    18: dict(N1=1, N2=2, S1="+15550100", S2="Ann Example", S3="incoming", S4="", tail=0),
    19: dict(S="battery 80%"),
    48: dict(flag=1, S1="+15550100", S2="Hello there", S3="1612310400000", N1=1, N2=15, N3=3, N4=0),
    50: dict(flag=2, S1="+15550100", S2="On my way", S3="1612310400000", N1=2, N2=14, N3=3, N4=1),
    105: dict(flag=1, N1=3, N2=10, S="com.example.maps", N3=50, N4=4404019),
    106: dict(flag=1, N1=4, N2=10, S="com.example.notes", N3=1048576),
    107: dict(flag=1, N1=5, N2=6, S1="/sdcard/a", S2="/sdcard/b", S3="a.jpg", N3=7, N4=3145728, N5=1),
}
