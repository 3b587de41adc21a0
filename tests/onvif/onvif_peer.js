// An independent ONVIF client, the npm package "onvif", driving one camsim
// camera: connect, device information, profiles, stream URI, imaging read and
// write, continuous move and stop, presets. Prints the stream URI last.
'use strict';
const onvif = require('onvif');
const [host, port] = process.argv.slice(2);

function fail(what, err) {
  console.error('FAIL: ' + what + (err ? ': ' + (err.message || err) : ''));
  process.exit(1);
}
const call = (what, fn) => new Promise((resolve) => fn((err, data) => (err ? fail(what, err) : resolve(data))));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

(async () => {
  const cam = new onvif.Cam({hostname: host, port: Number(port), username: 'admin', password: 'quolt',
                             timeout: 5000, autoconnect: false});
  await call('connect', (cb) => cam.connect(cb));
  const info = await call('getDeviceInformation', (cb) => cam.getDeviceInformation(cb));
  if (info.model !== 'camsim IPC') fail('model ' + info.model);
  const profiles = await call('getProfiles', (cb) => cam.getProfiles(cb));
  if (profiles.length !== 2 || profiles[0].$.token !== 'main') fail('profiles ' + JSON.stringify(profiles));
  const res = profiles[0].videoEncoderConfiguration.resolution;
  if (res.width !== 640 || res.height !== 360) fail('resolution ' + JSON.stringify(res));
  const stream = await call('getStreamUri', (cb) => cam.getStreamUri({protocol: 'RTSP', profileToken: 'main'}, cb));

  const token = profiles[0].videoSourceConfiguration.sourceToken;
  await call('setImagingSettings', (cb) => cam.setImagingSettings({token, brightness: 66, contrast: 33}, cb));
  const img = await call('getImagingSettings', (cb) => cam.getImagingSettings({token}, cb));
  if (img.brightness !== 66 || img.contrast !== 33) fail('imaging ' + JSON.stringify(img));

  await call('continuousMove', (cb) => cam.continuousMove({x: 1, y: 0, zoom: 0, profileToken: 'main'}, cb));
  await sleep(200);
  await call('stop', (cb) => cam.stop({panTilt: true, zoom: true, profileToken: 'main'}, cb));

  const set = await call('setPreset', (cb) => cam.setPreset({presetName: 'gate', profileToken: 'main'}, cb));
  const presets = await call('getPresets', (cb) => cam.getPresets({profileToken: 'main'}, cb));
  if (presets.gate === undefined) fail('presets ' + JSON.stringify(presets) + ' after ' + JSON.stringify(set));
  const gate = String(presets.gate.$.token);
  await call('gotoPreset', (cb) => cam.gotoPreset({preset: gate, profileToken: 'main'}, cb));
  await call('removePreset', (cb) => cam.removePreset({presetToken: gate, profileToken: 'main'}, cb));
  const after = await call('getPresets', (cb) => cam.getPresets({profileToken: 'main'}, cb));
  if (Object.keys(after).length !== 0) fail('preset not removed ' + JSON.stringify(after));
  console.log(stream.uri);
})().catch((e) => fail('exception', e));
