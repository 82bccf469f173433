<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>StatusSection</name>
    <message numerus="yes">
        <source>%1 upload(s) pending</source>
        <translation>
            <numerusform>%1 upload pending</numerusform>
            <numerusform>%1 uploads pending</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 download(s) pending</source>
        <translation>
            <numerusform>%1 download pending</numerusform>
            <numerusform>%1 downloads pending</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SyncState</name>
    <message numerus="yes">
        <source>Syncing %1 file(s)...</source>
        <comment>%1 is the number of files</comment>
        <translation>
            <numerusform>Syncing %1 file...</numerusform>
            <numerusform>Syncing %1 files...</numerusform>
        </translation>
    </message>
</context>
</TS>
