[playlist]
NumberOfEntries=3
File1=http://ice1.example.net/groove-128-mp3
Title1=Groove (#1)
Length1=-1
File3=mms://wm.example.net/live
File2=relative/stream.aac
file2=http://ignored.example
Version=2
